// The texts an update run shows and logs, in code page 936 like every text
// on the window channel (the window converts them for display). Each is
// written as its bytes with the text itself beside it.
#pragma once

namespace UpdateText {

constexpr const char* Checking = "\xD5\xFD\xD4\xDA\xBC\xEC\xB2\xE9\xB8\xFC\xD0\xC2...";  // "正在检查更新..."
constexpr const char* NetworkFault =
    "[\xCD\xF8\xC2\xE7\xB9\xCA\xD5\xCF]: \xD3\xF2\xC3\xFB\xB7\xFE\xCE\xF1\xC6\xF7\xB9\xCA\xD5\xCF";  // "[网络故障]: 域名服务器故障"
constexpr const char* TryLater = "\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF2\xD4\xD9\xCA\xD4";  // "，请稍候再试"
constexpr const char* ManifestFailed =
    "#100 : \xCF\xC2\xD4\xD8\xC5\xE4\xD6\xC3\xCE\xC4\xBC\xFE\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xBC\xEC\xB2\xE9"
    "\xCD\xF8\xC2\xE7\xA1\xA3 ";  // "#100 : 下载配置文件失败，请检查网络。 "
constexpr const char* DownloadLog = "\xCF\xC2\xD4\xD8 ";                                       // "下载 "
constexpr const char* DownloadingFile = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8 %s %d/%d";          // "正在下载 %s %d/%d"
constexpr const char* Downloading = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8 ";                      // "正在下载 "
constexpr const char* UnpackFailed = " \xBD\xE2\xB0\xFC\xCA\xA7\xB0\xDC.";                    // " 解包失败."
constexpr const char* UnpackLength = " \xBD\xE2\xB0\xFC\xB3\xA4\xB6\xC8\xB2\xBB\xD5\xFD\xC8\xB7.";  // " 解包长度不正确."
constexpr const char* Verifying = "\xD0\xA3\xD1\xE9 ";                                        // "校验 "
constexpr const char* WrongMd5 = " MD5\xD6\xB5\xB2\xBB\xD5\xFD\xC8\xB7.";                     // " MD5值不正确."
constexpr const char* FullPackage = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xCD\xEA\xD5\xFB\xB0\xFC...";  // "正在下载完整包..."
constexpr const char* UpdateFailed =
    "\xB8\xFC\xD0\xC2\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4";  // "更新失败，请稍后再试"
constexpr const char* DownloadFileLead = "\xCF\xC2\xD4\xD8\xCE\xC4\xBC\xFE ";                 // "下载文件 "
constexpr const char* FailedTryLater =
    " \xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4";  // " 失败，请稍后再试"
constexpr const char* VerifyingPackage =
    "\xD0\xA3\xD1\xE9\xCF\xC2\xD4\xD8\xB5\xC4\xCE\xC4\xBC\xFE...";  // "校验下载的文件..."
constexpr const char* PackageWrong =
    " \xD0\xA3\xD1\xE9\xB4\xED\xCE\xF3\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4 ";  // " 校验错误，请稍后再试 "
constexpr const char* CheckingFile = "\xD0\xA3\xD1\xE9\xCE\xC4\xBC\xFE\xA3\xBA";             // "校验文件："
constexpr const char* Unpacking = "\xD5\xFD\xD4\xDA\xBD\xE2\xD1\xB9\xCB\xF5: ";              // "正在解压缩: "
constexpr const char* UnpackPackageFailed =
    "\xCE\xC4\xBC\xFE\xBD\xE2\xD1\xB9\xCB\xF5\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xC9\xD4"
    "\xBA\xF3\xD4\xD9\xCA\xD4";  // "文件解压缩失败，失败，请稍后再试"
constexpr const char* UnpackingEntry = "\xBD\xE2\xB0\xFC %s %d/%d";  // "解包 %s %d/%d"
// Our own: a download whose data could not be written (a full disk, a lost
// device) names its file.
constexpr const char* WriteFailed =
    "\xD0\xB4\xC8\xEB\xCE\xC4\xBC\xFE %s \xCA\xA7\xB0\xDC\xA3\xAC\xC7\xEB\xBC\xEC\xB2\xE9\xB4\xC5\xC5\xCC\xBF"
    "\xD5\xBC\xE4";  // "写入文件 %s 失败，请检查磁盘空间"

}  // namespace UpdateText
