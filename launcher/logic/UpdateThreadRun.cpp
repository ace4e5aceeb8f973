#include "launcher/logic/UpdateThreadRun.h"

#include <utility>

#include "launcher/logic/ThreadReaper.h"

namespace {

// A cancelled thread and the sink it posts to, released together once the
// thread has ended: the thread first (it writes its log), the sink after it.
class TRetiredRun : public TRetired {
public:
  TRetiredRun(std::shared_ptr<TMessageSink> sink, std::unique_ptr<TUpdateThread> thread)
      : FSink(std::move(sink)), FThread(std::move(thread)) {}
  ~TRetiredRun() override { FThread.reset(); }
  bool Ended() const override { return FThread->Finished(); }

private:
  std::shared_ptr<TMessageSink> FSink;
  std::unique_ptr<TUpdateThread> FThread;
};

// The launcher's environment with the request's choice of a repair.
TUpdateEnvironment RunEnvironment(const TUpdateEnvironment& environment, const TUpdateRunRequest& request) {
  TUpdateEnvironment run = environment;
  run.Repair = request.Repair;
  return run;
}

}  // namespace

TUpdateThreadRun::TUpdateThreadRun(std::shared_ptr<TMessageSink> sink, const TUpdateRunRequest& request,
                                   const TUpdateEnvironment& environment)
    : FSink(std::move(sink)),
      FThread(std::make_unique<TUpdateThread>(*FSink, request.Mode, request.StateFile, request.ManifestName,
                                              request.BaseUrl, RunEnvironment(environment, request))),
      FSigned(!environment.PublicKey.empty()) {}

TUpdateThreadRun::~TUpdateThreadRun() { FThread.reset(); }

int TUpdateThreadRun::UpdatePlan() const { return FThread ? FThread->UpdatePlan() : 0; }

// Read after the run's last message: its manifest no longer changes.
TAcceptedUpdate TUpdateThreadRun::AcceptedLauncherUpdate() const {
  TAcceptedUpdate accepted;
  accepted.Signed = FSigned;
  if (FThread)
    for (const TManifestEntry& entry : FThread->AcceptedLauncherEntries())
      accepted.Entries.push_back({entry.Hash, entry.Sha256});
  return accepted;
}

std::string TUpdateThreadRun::ClosingText() const {
  return FThread ? ClosingStatusText(FThread->Outcome()) : std::string();
}

void TUpdateThreadRun::Cancel() {
  if (!FThread) return;
  FThread->Terminate();
  Retire(std::make_unique<TRetiredRun>(FSink, std::move(FThread)));
}

TUpdateRunFactory UpdateThreadRunFactory(std::shared_ptr<TMessageSink> sink, const TUpdateEnvironment& environment) {
  return [sink, environment](const TUpdateRunRequest& request) -> std::unique_ptr<TUpdateRun> {
    return std::make_unique<TUpdateThreadRun>(sink, request, environment);
  };
}

TUpdateEnvironment LauncherUpdateEnvironment(const TLauncherConfig& config) {
  TUpdateEnvironment environment;
  environment.PublicKey = config._PublicKey;
  environment.DownloadHost = config.DownloadHost;
  return environment;
}
