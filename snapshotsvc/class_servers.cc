// The in-process servers of the snapshot and disk classes.
#include "platform/com.h"
#include "snapshot/snapshot_service.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/snapshot_service_impl.h"

namespace snapshotsvc {
namespace {

template <typename Impl>
class Factory : public platform::IClassFactory {
 public:
  explicit Factory(const platform::GUID& iid) : iid_(iid) {}
  HRESULT CreateInstance(const platform::GUID& iid,
                         std::unique_ptr<platform::IUnknown>& out) override {
    if (!(iid == iid_)) return E_NOINTERFACE;
    out = std::make_unique<Impl>();
    return S_OK;
  }

 private:
  platform::GUID iid_;
};

}  // namespace

void RegisterClassServers() {
  platform::RegisterClassServer(ark::snapshot::CLSID_SnapshotService,
                                [](std::unique_ptr<platform::IClassFactory>& out) {
                                  out = std::make_unique<Factory<SnapshotServiceImpl>>(
                                      ark::snapshot::IID_ISnapshotService);
                                  return S_OK;
                                });
  platform::RegisterClassServer(ark::snapshot::CLSID_DiskService,
                                [](std::unique_ptr<platform::IClassFactory>& out) {
                                  out = std::make_unique<Factory<DiskServiceImpl>>(
                                      ark::snapshot::IID_IDiskService);
                                  return S_OK;
                                });
}

}  // namespace snapshotsvc
