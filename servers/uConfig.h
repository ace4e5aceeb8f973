// The server list document and its records: TServerConfig reads the
// directory's JSON document into TServerInfo records, filters and sorts them,
// picks the default server and answers look-ups by id. The echo service
// writes measured round-trip times into the records through UpdateLatency.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// The process-wide helpers that belong to this unit live in the platform layer.
#include "platform/MsCounter.h"
#include "platform/ProcessKill.h"

class TUDPEchoServer;

struct TServerInfo {
  std::u16string name;
  std::u16string alias;
  std::string ip;
  int32_t port = 0;
  int32_t id = 0;
  int32_t rtt = 0;
  uint8_t echoPending = 0;
  uint8_t recommend = 0;
  int32_t default_ = 0;  // "default"
  int32_t version = 0;
  std::string member;
  std::string patchurl;
  int32_t opentime = 0;
  int32_t test = 0;
  int32_t authtype = 0;
  int32_t clienttype = 0;
};

using TServerList = std::vector<std::shared_ptr<TServerInfo>>;

// A document that breaks off while it is read: the top level is not an
// object, a member has the wrong JSON type, or an element of the server
// array is not an object.
class EServerListError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The group text of a record whose "member" is empty.
extern const char* const DefaultMemberText;
// Name of the file whose presence shows test servers.
constexpr const char* ShowTestFileName = "showtest.txt";
// Largest document LoadFromText reads; anything longer reads as no document.
constexpr size_t MaxServerListDocument = 16 * 1024 * 1024;

// Which records a load keeps: test servers only with the switch file
// "showtest.txt" beside the program, and with _OnlyAwake on only records whose
// clienttype is not 0.
struct TServerFilter {
  bool showTest = false;
  bool onlyAwake = false;
};
// The launcher's own filter: "showtest.txt" in `launcherFolder`, read now,
// and the _OnlyAwake switch text of the launcher configuration.
TServerFilter LauncherServerFilter(const std::string& launcherFolder, const std::string& onlyAwakeSwitch);

// Why a record must not be offered: its "ip" is not IPv4 dotted-quad
// addresses joined by "|" (empty entries are skipped at the launch), or its
// name holds a double quote, a "/" or a control character. Both go into the
// game client's command line unquoted, so such a record could add switches
// of its own. Empty: the record is fine.
std::string UnsafeRecordReason(const TServerInfo& record);

class TServerConfig {
public:
  // `launcherFolder` (with its trailing separator) is where "showtest.txt" is
  // looked for. Hooks UpdateLatency to `echo` when it is given.
  explicit TServerConfig(const std::string& launcherFolder, TUDPEchoServer* echo = nullptr);
  ~TServerConfig();
  TServerConfig(const TServerConfig&) = delete;
  TServerConfig& operator=(const TServerConfig&) = delete;

  // Disposes of every record of both lists; DefaultServer is left as it is.
  void Clear();
  // Replaces the contents with the servers of `document` (code page 936
  // text) that `filter` keeps; an unsafe record (UnsafeRecordReason) is left
  // out and logged. True when the ordinary list is not empty
  // afterwards. Throws EServerListError on a mistyped document; the records
  // read before the error stay in the lists.
  bool LoadFromText(const std::string& document, const TServerFilter& filter);
  // The same with the filter of the folder given at creation and
  // _OnlyAwake off (the launcher's own switch comes with TDirectoryInputs).
  bool LoadFromText(const std::string& document) {
    return LoadFromText(document, LauncherServerFilter(FLauncherFolder, ""));
  }
  // The record with `id` (an ordinary one wins over a priority one), else
  // the default server, else the first priority record, else the first
  // ordinary record, else nullptr. Valid until the next load or Clear (the
  // default server until it is replaced).
  TServerInfo* FindById(int32_t id) const;
  // Echo callback: `key` names a record (bit 15 set: priority list, low 15
  // bits the position from 1; else the ordinary list, position from 1). The
  // record takes `rtt` when its ip equals `address`. Runs on the echo
  // service's thread.
  void UpdateLatency(const std::string& address, int32_t rtt, int32_t key);

  // Read access for the user-interface thread, which alone changes the lists.
  const TServerList& Servers() const { return FServers; }
  const TServerList& PriorityServers() const { return FPriorityServers; }
  TServerInfo* DefaultServer() const { return FDefaultServer.get(); }
  // A copy of a record taken under the lock that guards the echo fields.
  TServerInfo CopyRecord(const TServerInfo& record) const;

private:
  void ReadServers(const void* serverArray, const TServerFilter& filter, TServerList& servers, TServerList& priority);
  void Install(TServerList&& servers, TServerList&& priority);

  std::string FLauncherFolder;
  TUDPEchoServer* FEcho;
  TServerList FServers;
  TServerList FPriorityServers;
  // Shared with the priority list that held it, so it stays valid after the
  // lists are cleared.
  std::shared_ptr<TServerInfo> FDefaultServer;
  // Guards the lists' shape and the echo fields against UpdateLatency.
  mutable std::mutex FRecordsLock;
};
