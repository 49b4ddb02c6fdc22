// Scheduled tasks in the Task Scheduler, through its COM interface
// (ITaskService): a task in the root folder, registered from XML, run as
// SYSTEM (S-1-5-18) with the highest privileges; StartWhenAvailable runs a
// missed run as soon as the machine is on again.
#include "platform/scheduler.h"

#include <cstdio>

#include "platform/kit/process.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// An interface pointer, released at the end.
template <class T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text) : b_(::SysAllocStringLen(text.data(), UINT(text.size()))) {}
  ~Bstr() { ::SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() { return &b_; }
  std::string ansi() const {
    if (b_ == nullptr) return {};
    const std::u16string wide(reinterpret_cast<const char16_t*>(b_), ::SysStringLen(b_));
    return WideToAnsi(wide);
  }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  explicit Variant(const std::wstring& text) : Variant() {
    v_.vt = VT_BSTR;
    v_.bstrVal = ::SysAllocStringLen(text.data(), UINT(text.size()));
  }
  explicit Variant(long number) : Variant() {
    v_.vt = VT_I4;
    v_.lVal = number;
  }
  ~Variant() { ::VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  const VARIANT& get() const { return v_; }

 private:
  VARIANT v_;
};

std::wstring Wide(const std::string& text) {
  const std::u16string wide = AnsiToWide(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string HresultText(const char* what, WinHRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

// COM for this thread while the object lives.
class ComSession {
 public:
  ComSession() : uninitialize_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComSession() {
    if (uninitialize_) ::CoUninitialize();
  }
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;

 private:
  bool uninitialize_;
};

// The scheduler's root folder.
class TaskFolder {
 public:
  explicit TaskFolder(std::string* error) {
    // Fails harmlessly when the process has set it already.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, 0, nullptr);
    WinHRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                       reinterpret_cast<void**>(service_.out()));
    if (FAILED(hr)) {
      *error = HresultText("reaching the Task Scheduler", hr);
      return;
    }
    Variant none;
    hr = service_->Connect(none.get(), none.get(), none.get(), none.get());
    if (SUCCEEDED(hr)) {
      Bstr root(L"\\");
      hr = service_->GetFolder(root.get(), folder_.out());
    }
    if (FAILED(hr)) *error = HresultText("connecting to the Task Scheduler", hr);
  }
  TaskFolder(const TaskFolder&) = delete;
  TaskFolder& operator=(const TaskFolder&) = delete;
  ITaskFolder* get() const { return folder_.get(); }

 private:
  ComSession com_;  // declared first: the interfaces are released before COM ends
  Ref<ITaskService> service_;
  Ref<ITaskFolder> folder_;
};

std::string Xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string TaskXml(const ScheduledTask& task) {
  const TaskTrigger& t = task.trigger;
  char start[64];
  std::snprintf(start, sizeof start, "2026-01-01T%02d:%02d:00", t.hour, t.minute);
  std::string repetition;
  if (t.intervalMinutes < 1440) {
    // Every interval until the day ends; the next day begins anew.
    char text[200];
    std::snprintf(text, sizeof text,
                  "<Repetition><Interval>PT%dM</Interval><Duration>PT%dM</Duration>"
                  "<StopAtDurationEnd>false</StopAtDurationEnd></Repetition>",
                  t.intervalMinutes, 1440 - (t.hour * 60 + t.minute));
    repetition = text;
  }
  std::string arguments;
  for (std::size_t i = 1; i < task.command.size(); ++i)
    arguments += (i > 1 ? " " : "") + kit::QuoteArgument(task.command[i]);
  return "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
         "<RegistrationInfo><Description>" + Xml(task.description) + "</Description></RegistrationInfo>"
         "<Triggers><CalendarTrigger><Enabled>true</Enabled><StartBoundary>" + start + "</StartBoundary>" +
         repetition +
         "<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>"
         "<Principals><Principal id=\"Author\"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel>"
         "</Principal></Principals>"
         "<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
         "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
         "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><StartWhenAvailable>true</StartWhenAvailable>"
         "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit><Enabled>true</Enabled></Settings>"
         "<Actions Context=\"Author\"><Exec><Command>" + Xml(task.command.empty() ? "" : task.command[0]) +
         "</Command><Arguments>" + Xml(arguments) + "</Arguments></Exec></Actions></Task>";
}

// "2026-12-07 02:30:00"; empty for no time.
std::string DateText(DATE date) {
  WinSYSTEMTIME st{};
  if (date <= 1.0 || !::VariantTimeToSystemTime(date, &st) || st.wYear < 2000) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return text;
}

void ReadDefinition(IRegisteredTask* task, ScheduledTaskState& state) {
  Ref<ITaskDefinition> definition;
  if (FAILED(task->get_Definition(definition.out()))) return;
  Ref<IActionCollection> actions;
  Ref<IAction> action;
  Ref<IExecAction> exec;
  if (SUCCEEDED(definition->get_Actions(actions.out())) && SUCCEEDED(actions->get_Item(1, action.out())) &&
      SUCCEEDED(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(exec.out())))) {
    Bstr path;
    Bstr arguments;
    exec->get_Path(path.out());
    exec->get_Arguments(arguments.out());
    state.command = kit::QuoteArgument(path.ansi()) + " " + arguments.ansi();
  }
  Ref<ITriggerCollection> triggers;
  Ref<ITrigger> trigger;
  if (SUCCEEDED(definition->get_Triggers(triggers.out())) && SUCCEEDED(triggers->get_Item(1, trigger.out()))) {
    Bstr start;
    trigger->get_StartBoundary(start.out());
    const std::string boundary = start.ansi();
    state.when = "daily from " + (boundary.size() >= 16 ? boundary.substr(11, 5) : boundary);
    Ref<IRepetitionPattern> repetition;
    Bstr interval;
    if (SUCCEEDED(trigger->get_Repetition(repetition.out())) && SUCCEEDED(repetition->get_Interval(interval.out())) &&
        !interval.ansi().empty())
      state.when += ", every " + interval.ansi();
  }
}

// The names of the tasks in the root folder from the task store's folder
// (%SystemRoot%\System32\Tasks), for a Task Scheduler that cannot
// enumerate them (Wine's answers E_NOTIMPL).
std::vector<std::string> StoredTaskNames() {
  std::vector<std::string> names;
  char windows[MAX_PATH + 1] = {};
  const UINT n = ::GetSystemWindowsDirectoryA(windows, sizeof windows);
  if (n == 0 || n > MAX_PATH) return names;
  WIN32_FIND_DATAA found;
  struct Search {
    HANDLE h;
    ~Search() {
      if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
    }
  } search{::FindFirstFileA((std::string(windows) + "\\System32\\Tasks\\*").c_str(), &found)};
  if (search.h == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (::FindNextFileA(search.h, &found));
  return names;
}

ScheduledTaskState ReadTask(IRegisteredTask* task, const std::string& name) {
  ScheduledTaskState state;
  state.name = name;
  ReadDefinition(task, state);
  DATE next = 0;
  DATE last = 0;
  if (SUCCEEDED(task->get_NextRunTime(&next))) state.nextRun = DateText(next);
  if (SUCCEEDED(task->get_LastRunTime(&last))) state.lastRun = DateText(last);
  WinLONG result = 0;
  if (SUCCEEDED(task->get_LastTaskResult(&result)) && !state.lastRun.empty()) {
    char text[48];
    std::snprintf(text, sizeof text, "exit %ld", static_cast<long>(result));
    state.lastResult = result == 0 ? "success" : text;
  }
  return state;
}

}  // namespace

bool CreateScheduledTask(const std::string&, const ScheduledTask& task, std::string* note, std::string* error) {
  TaskFolder folder(error);
  if (folder.get() == nullptr) return false;
  Bstr name(Wide(task.name));
  Bstr xml(Wide(TaskXml(task)));
  Variant user(std::wstring(L"SYSTEM"));
  Variant none;
  Ref<IRegisteredTask> registered;
  const WinHRESULT hr = folder.get()->RegisterTask(name.get(), xml.get(), TASK_CREATE_OR_UPDATE, user.get(),
                                                   none.get(), TASK_LOGON_SERVICE_ACCOUNT, none.get(),
                                                   registered.out());
  if (FAILED(hr)) {
    *error = HresultText("registering the task", hr);
    return false;
  }
  *note = "registered with the Task Scheduler, runs as SYSTEM";
  return true;
}

bool DeleteScheduledTask(const std::string&, const std::string& name, bool* existed, std::string* error) {
  *existed = false;
  TaskFolder folder(error);
  if (folder.get() == nullptr) return false;
  Bstr wide(Wide(name));
  const WinHRESULT hr = folder.get()->DeleteTask(wide.get(), 0);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return true;
  if (FAILED(hr)) {
    *error = HresultText("deleting the task", hr);
    return false;
  }
  *existed = true;
  return true;
}

bool ListScheduledTasks(const std::string&, const std::string& prefix, std::vector<ScheduledTaskState>* tasks,
                        std::string* error) {
  TaskFolder folder(error);
  if (folder.get() == nullptr) return false;
  auto wanted = [&prefix](const std::string& name) { return name.compare(0, prefix.size(), prefix) == 0; };
  Ref<IRegisteredTaskCollection> all;
  WinHRESULT hr = folder.get()->GetTasks(TASK_ENUM_HIDDEN, all.out());
  WinLONG count = 0;
  if (SUCCEEDED(hr)) hr = all->get_Count(&count);
  if (hr == E_NOTIMPL) {
    for (const std::string& name : StoredTaskNames()) {
      Bstr wide(Wide(name));
      Ref<IRegisteredTask> task;
      if (wanted(name) && SUCCEEDED(folder.get()->GetTask(wide.get(), task.out())))
        tasks->push_back(ReadTask(task.get(), name));
    }
    return true;
  }
  if (FAILED(hr)) {
    *error = HresultText("listing the tasks", hr);
    return false;
  }
  for (WinLONG i = 1; i <= count; ++i) {
    Variant index(static_cast<long>(i));
    Ref<IRegisteredTask> task;
    Bstr name;
    if (FAILED(all->get_Item(index.get(), task.out())) || FAILED(task->get_Name(name.out()))) continue;
    if (wanted(name.ansi())) tasks->push_back(ReadTask(task.get(), name.ansi()));
  }
  return true;
}

std::string DefaultTaskLocation() { return {}; }

std::string CurrentProgramPath() {
  char buffer[MAX_PATH * 4];
  const WinDWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return n == 0 || n >= sizeof buffer ? std::string() : std::string(buffer, n);
}

}  // namespace platform
