// The Windows event log: RegisterEventSourceA, ReportEventA and
// DeregisterEventSource for each event; the texts come from the message
// file that the source's registration names.
#include "platform/shared/event_observer.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

constexpr char kSourcesKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The message file registered for a source under valueName, loaded as data.
class MessageModule {
 public:
  MessageModule(const std::string& source, const char* valueName) {
    std::string file;
    if (RegGetString(kSourcesKey + source, valueName, file) != ERROR_SUCCESS || file.empty()) return;
    char expanded[MAX_PATH + 1] = {};
    const WinDWORD n = ::ExpandEnvironmentStringsA(file.c_str(), expanded, sizeof expanded);
    if (n == 0 || n > sizeof expanded) return;
    module_ = ::LoadLibraryExA(expanded, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  ~MessageModule() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  MessageModule(const MessageModule&) = delete;
  MessageModule& operator=(const MessageModule&) = delete;

  // The message's text with its %1.. filled in; empty when it has none.
  std::string Text(DWORD id, const std::vector<std::string>& strings) const {
    if (module_ == nullptr) return {};
    // The insertion strings as FORMAT_MESSAGE_ARGUMENT_ARRAY takes them;
    // messages may name more strings than were given: those stay empty.
    static const char kEmpty[] = "";
    std::vector<DWORD_PTR> arguments;
    for (const std::string& s : strings) arguments.push_back(reinterpret_cast<DWORD_PTR>(s.c_str()));
    while (arguments.size() < 99) arguments.push_back(reinterpret_cast<DWORD_PTR>(kEmpty));
    char* text = nullptr;
    const WinDWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, id, 0,
        reinterpret_cast<char*>(&text), 0, reinterpret_cast<va_list*>(arguments.data()));
    if (n == 0 || text == nullptr) return {};
    std::string out(text, n);
    ::LocalFree(text);
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n')) out.pop_back();
    return out;
  }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace

bool ReportEvent(const std::string& source, WORD type, WORD category, DWORD eventId,
                 const std::vector<std::string>& strings) {
  shared::NotifyEventObserver(EventRecord{source, type, category, eventId, strings});
  const HANDLE log = ::RegisterEventSourceA(nullptr, source.c_str());
  if (log == nullptr) return false;
  std::vector<const char*> texts;
  for (const std::string& s : strings) texts.push_back(s.c_str());
  const BOOL written = ::ReportEventA(log, type, category, eventId, nullptr, static_cast<WORD>(texts.size()), 0,
                                      texts.empty() ? nullptr : texts.data(), nullptr);
  ::DeregisterEventSource(log);
  return written != FALSE;
}

std::string EventMessageText(const std::string& source, DWORD eventId, const std::vector<std::string>& strings) {
  return MessageModule(source, "EventMessageFile").Text(eventId, strings);
}

std::string EventCategoryText(const std::string& source, WORD category) {
  return MessageModule(source, "CategoryMessageFile").Text(category, {});
}

}  // namespace platform
