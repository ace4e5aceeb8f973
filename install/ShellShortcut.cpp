#include "install/ShellShortcut.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "common/PathUtils.h"
#include "platform/CodePage.h"
#include "platform/win32/ComObjects.h"

namespace {

// CLSID_ShellLink, IID_IShellLinkA and IID_IPersistFile, spelled out so the
// program needs no GUID library of the shell.
const CLSID ShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID ShellLinkAInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID PersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::wstring Wide(const std::string& text) {
  const std::u16string wide = Cp936ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

bool CreateShellLink(TComPtr<IShellLinkA>& link) {
  return SUCCEEDED(CoCreateInstance(ShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, ShellLinkAInterface,
                                    link.ReceiveVoid()));
}

}  // namespace

bool CreateShellShortcut(const std::string& target, const std::string& arguments, const std::string& description,
                         const std::string& linkPath) {
  TOleSession ole;
  TComPtr<IShellLinkA> link;
  if (!CreateShellLink(link)) return false;
  TComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(PersistFileInterface, file.ReceiveVoid()))) return false;
  // IShellLinkA reads its texts in the system's ANSI code page, which is 936
  // on the systems the launcher is made for; the file name goes wide.
  const bool set = SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
                   SUCCEEDED(link->SetWorkingDirectory(ExtractFilePath(target).c_str())) &&
                   SUCCEEDED(link->SetDescription(description.c_str()));
  if (!set) return false;
  return SUCCEEDED(file->Save(Wide(linkPath).c_str(), FALSE));
}

std::string ReadShellShortcutTarget(const std::string& linkPath) {
  TOleSession ole;
  TComPtr<IShellLinkA> link;
  if (!CreateShellLink(link)) return std::string();
  TComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(PersistFileInterface, file.ReceiveVoid()))) return std::string();
  if (FAILED(file->Load(Wide(linkPath).c_str(), STGM_READ))) return std::string();
  char path[MAX_PATH] = {};
  if (FAILED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) return std::string();
  return path;
}
