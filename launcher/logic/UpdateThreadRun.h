// The update run of the launcher: a TUpdateThread posting to the window's
// sink. The sink is shared with the run, so a cancelled thread that is still
// ending never posts through a sink that is gone.
#pragma once
#include <memory>

#include "common/WindowMessages.h"
#include "launcher/logic/UpdateRunControl.h"
#include "package/LauncherConfig.h"
#include "update/run/UpdateThread.h"

class TUpdateThreadRun : public TUpdateRun {
public:
  // Starts the thread at once.
  TUpdateThreadRun(std::shared_ptr<TMessageSink> sink, const TUpdateRunRequest& request,
                   const TUpdateEnvironment& environment = TUpdateEnvironment());
  // Waits for the thread, which has reported its end unless cancelled.
  ~TUpdateThreadRun() override;

  int UpdatePlan() const override;
  TAcceptedUpdate AcceptedLauncherUpdate() const override;
  // A repair's closing text from the run's outcome.
  std::string ClosingText() const override;
  // Sets the thread's terminate flag (which aborts its blocked request) and
  // retires the thread without waiting: it is released (its log file
  // written) once it has ended, and nothing it uses is freed before.
  void Cancel() override;

private:
  std::shared_ptr<TMessageSink> FSink;
  std::unique_ptr<TUpdateThread> FThread;
  bool FSigned;  // the run has a package key
};

// The factory the run control uses in the launcher.
TUpdateRunFactory UpdateThreadRunFactory(std::shared_ptr<TMessageSink> sink,
                                         const TUpdateEnvironment& environment = TUpdateEnvironment());

// What the launcher's runs take from its package: the public key that its
// releases must be signed with (none: they are taken unsigned).
TUpdateEnvironment LauncherUpdateEnvironment(const TLauncherConfig& config);
