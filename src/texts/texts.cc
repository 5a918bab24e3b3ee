#include "texts/texts.h"

#include <atomic>
#include <cstddef>

namespace {

// One text in each language.
struct TextRow {
  TextId id;
  const char* chinese;
  const char* english;
};

// The catalogue, in the order of TextId. The Chinese texts are the program's own, byte for byte;
// the English say the same, and where the Chinese gives advice that does not fit (restarting the
// computer after a failed download), what to do instead.
constexpr TextRow kRows[] = {
    {TextId::kListConnecting, "正在连接获取服务器列表", "Connecting to get the server list"},
    {TextId::kListReceived, "获取服务器列表成功,共取得 %u 个可选服务器",
     "Server list received: %u servers to choose from"},
    {TextId::kListFailed, "获得服务器列表失败", "Could not get the server list"},
    {TextId::kServerConnecting, "正在连接：%s", "Connecting: %s"},
    {TextId::kManifestReceived, "获取更新文件列表成功：%s", "Update file list received: %s"},
    {TextId::kManifestFailed, "%s：%s", "%s: %s"},
    {TextId::kSignatureInvalid, "更新文件列表签名无效, 请选择其他服务器进行尝试：%s",
     "The update file list's signature is not valid; please choose another server and try "
     "again: %s"},
    {TextId::kManifestOlder, "更新文件列表早于当前版本, 请选择其他服务器进行尝试：%s",
     "The update file list is older than the installed version; please choose another server "
     "and try again: %s"},
    {TextId::kManifestExpired, "更新文件列表已过期, 请选择其他服务器进行尝试：%s",
     "The update file list has expired; please choose another server and try again: %s"},
    {TextId::kUpToDate, "你当前的版本是最新的", "Your version is up to date"},
    {TextId::kFilesToUpdate, "需更新文件总数: %u, 文件总长度: %llu KB",
     "Files to update: %u, total size: %llu KB"},
    {TextId::kUpdatingFile, "正在更新文件：%s", "Updating file: %s"},
    {TextId::kFileDownloaded, "下载文件成功 [%s]", "File downloaded [%s]"},
    {TextId::kFileFailed, "下载文件失败 [%s], 错误代码 [%u]",
     "File download failed [%s], error code [%u]"},
    {TextId::kDeleteFailed, "删除文件失败 [%s]", "Could not delete the old file [%s]"},
    {TextId::kRenameFailed, "重命名文件失败 [%s]", "Could not move the new file into place [%s]"},
    {TextId::kUpdateFinished, "更新完毕", "Update finished"},
    {TextId::kUpdateFinishedWithErrors,
     "更新完毕,但更新过程中存在异常！ 请尝试重新启动计算机，并重新更新。",
     "Update finished, but with errors (see above); run Lodestar again: it fetches only what is "
     "still missing."},
    {TextId::kSaveFailed, "保存下载进度遇到异常!", "Could not save the download progress!"},
    {TextId::kManifestUnloadable, "装载远程版本信息失败!", "Could not load the update file list!"},
    {TextId::kLaunchFailed, "无法启动 %s：%s", "Could not start %s: %s"},

    {TextId::kTransferDefault, "连接服务器失败, 请选择其他服务器进行尝试",
     "Could not connect to the server; please choose another server and try again"},
    {TextId::kTransferUrlParseFailed, "URL解析错误, 请选择其他服务器进行尝试",
     "The URL cannot be read; please choose another server and try again"},
    {TextId::kTransferServerRefused, "服务器拒绝连接, 请选择其他服务器进行尝试",
     "The server refused the connection; please choose another server and try again"},
    {TextId::kTransferRedirectFailed, "重定向失败, 请选择其他服务器进行尝试",
     "A redirect failed; please choose another server and try again"},
    {TextId::kTransferRedirectUrlParseFailed, "重定向URL解析错误, 请选择其他服务器进行尝试",
     "A redirect's URL cannot be read; please choose another server and try again"},
    {TextId::kTransferNotHttp, "不是HTTP连接, 请选择其他服务器进行尝试",
     "Not an HTTP connection; please choose another server and try again"},
    {TextId::kTransferFileRequestFailed, "取得服务器文件失败, 请选择其他服务器进行尝试",
     "Could not get the file from the server; please choose another server and try again"},
    {TextId::kTransferLocalFileCreateFailed, "创建本地文件失败", "Could not create the local file"},
    {TextId::kTransferCancelled, "主动取消连接", "The connection was cancelled"},
    {TextId::kTransferBadUrl, "URL不正确", "The URL is not correct"},
    {TextId::kTransferFileVerifyFailed, "文件校验失败", "The file failed its check"},
    {TextId::kTransferTlsFailed, "服务器证书无效, 请选择其他服务器进行尝试",
     "The server's certificate is not valid; please choose another server and try again"},

    {TextId::kDetailHttpStatus, "  %s：服务器返回 HTTP %ld", "  %s: the server answered HTTP %ld"},
    {TextId::kDetailTransfer, "  %s：传输失败 (%s)", "  %s: the transfer failed (%s)"},
    {TextId::kDetailTls, "  %s：服务器证书或安全连接无效 (%s)",
     "  %s: the certificate or the secure connection was refused (%s)"},
    {TextId::kDetailNotHttp, "  %s：不是 http 或 https 地址", "  %s: not an http or https address"},
    {TextId::kDetailLocalFile, "  %s：无法创建或写入", "  %s: could not be created or written"},
    {TextId::kDetailTemporaryFile, "  无法在存放临时文件的文件夹中创建文件",
     "  no file could be made in the folder for temporary files"},
    {TextId::kDetailVerify, "  %s：内容与更新文件列表中的校验值不符",
     "  %s: the content does not match the hash in the update file list"},
    {TextId::kDetailNoHash,
     "  %s：更新文件列表没有给出此文件的校验值, 带签名的更新要求每个文件都有",
     "  %s: the update file list gives no hash for this file, which a signed update requires"},
    {TextId::kDetailListUnusable, "  %s：没有 \"名称|地址\" 形式的行",
     "  %s: holds no line of the form name|URL"},
    {TextId::kDetailNoSignature, "  %s：没有签名文件 (HTTP %ld)",
     "  no signature at %s (HTTP %ld)"},
    {TextId::kDetailSignatureMalformed, "  %s：不是 minisign 签名文件",
     "  %s: not a minisign signature file"},
    {TextId::kDetailOtherKey,
     "  签名使用的密钥 ID 为 %s, 而 Lodestar.cfg 中 pubkey 的密钥 ID 为 %s",
     "  signed with key ID %s, but the pubkey in Lodestar.cfg has key ID %s"},
    {TextId::kDetailBadSignature,
     "  签名 (密钥 ID %s) 与此更新文件列表不符: 文件被改动过, 或签名属于另一个版本",
     "  the signature (key ID %s) does not match this update file list: it was altered, or the "
     "signature is another release's"},
    {TextId::kDetailBadComment, "  签名的可信注释被改动过",
     "  the signature's trusted comment was altered"},
    {TextId::kDetailNoTimestamp, "  签名中没有时间戳 (请用 lodestar-publish --sign 签名)",
     "  the signature holds no timestamp (sign with lodestar-publish --sign)"},
    {TextId::kDetailOlder, "  此版本签名于 %s, 早于已安装版本的 %s",
     "  signed %s, before the installed release's %s"},
    {TextId::kDetailExpired, "  签名于 %s, 已超过 maxage 规定的 %lld 天",
     "  signed %s, more than maxage's %lld days ago"},
    {TextId::kDetailManifestUnloadable, "  %s：不是有效的更新文件列表",
     "  %s: not an update file list Lodestar can read"},

    {TextId::kPubkeyUnread, "未能读出 Lodestar.cfg 中的 pubkey, 不进行更新",
     "Could not read the pubkey in Lodestar.cfg; not updating"},
    {TextId::kPubkeyInvalid, "Lodestar.cfg 中的 pubkey 不是有效的公钥, 不进行更新",
     "The pubkey in Lodestar.cfg is not a valid public key; not updating"},
    {TextId::kMaxAgeInvalid, "Lodestar.cfg 中的 maxage 不是 1 以上的整数, 不进行更新",
     "The maxage in Lodestar.cfg is not a whole number of 1 or more; not updating"},
    {TextId::kCacertUnread, "未能读出 Lodestar.cfg 中的 cacert, 不进行更新",
     "Could not read the cacert in Lodestar.cfg; not updating"},
    {TextId::kCacertMissing, "Lodestar.cfg 中 cacert 所指的文件 %s 不存在, 不进行更新",
     "The file %s that cacert in Lodestar.cfg names does not exist; not updating"},
    {TextId::kCacertUnreadable, "未能读出 Lodestar.cfg 中 cacert 所指的文件 %s (%s), 不进行更新",
     "The file %s that cacert in Lodestar.cfg names cannot be read (%s); not updating"},
    {TextId::kCacertUnusable, "Lodestar.cfg 中 cacert 所指的文件 %s 不含可用的证书, 不进行更新",
     "The file %s that cacert in Lodestar.cfg names holds no certificate that can be used; not "
     "updating"},
    {TextId::kQuoteHint, "含有 \":\" 的值须用引号括起来, 如 param:\"a:b\"",
     "A value that holds \":\" must stand in quotes, as in param:\"a:b\""},
    {TextId::kConfigMissing, "找不到 Lodestar.cfg：%s, 不进行更新",
     "Lodestar.cfg was not found at %s; not updating"},
    {TextId::kConfigUnreadable, "无法读取 Lodestar.cfg：%s (%s), 不进行更新",
     "Lodestar.cfg cannot be read: %s (%s); not updating"},
    {TextId::kConfigNoServerlist,
     "Lodestar.cfg 中没有可用的 serverlist, 不进行更新 (例如 "
     "serverlist:\"http://host/servers.txt\")",
     "Lodestar.cfg gives no usable serverlist; not updating (write e.g. "
     "serverlist:\"http://host/servers.txt\")"},
    {TextId::kConfigReaderStopped, "Lodestar.cfg 第 %d 行第 %d 列：%s, 此后的内容未被读取",
     "Lodestar.cfg, line %d, column %d: %s; nothing after it was read"},
    {TextId::kReaderColonInValue, "值中含有未加引号的 \":\" (含有 \":\" 的值须用引号括起来)",
     "an unquoted \":\" inside a value (a value that holds \":\" must stand in quotes)"},
    {TextId::kReaderBracketForKey, "应为键名处出现了括号 (Lodestar.cfg 的内容外面不加花括号)",
     "a bracket where a key should start (Lodestar.cfg takes its members without enclosing "
     "braces)"},
    {TextId::kReaderClosingBracket, "多余的右括号", "a closing bracket that closes nothing"},
    {TextId::kReaderAfterBracket, "右括号后紧跟引号或反斜杠",
     "a quote or backslash right after a closing bracket"},
    {TextId::kReaderEndsOpen, "文本在引号或括号闭合之前结束",
     "the text ends inside quotes or brackets that are not closed"},
    {TextId::kReaderEmpty, "Lodestar.cfg 是空的", "Lodestar.cfg is empty"},
    {TextId::kConfigUnknownKey,
     "Lodestar.cfg 中的 %s 不是可识别的设置, 已忽略 (可用的有 serverlist, auto, exec, param, "
     "pubkey, connections, maxage, language, cacert, failover)",
     "Lodestar.cfg: %s is not a key Lodestar knows, ignored (the keys are serverlist, auto, exec, "
     "param, pubkey, connections, maxage, language, cacert, failover)"},
    {TextId::kConfigExecBlank,
     "Lodestar.cfg 中 exec 指定的 \"%s\" 不存在: \":\" 后面的空格也属于值",
     "Lodestar.cfg: exec names \"%s\", which does not exist: a blank after \":\" is part of the "
     "value"},
    {TextId::kConfigLanguageUnknown,
     "Lodestar.cfg 中的 language 应为 zh、en 或 auto, 而不是 \"%s\"; 使用 zh",
     "Lodestar.cfg: language must be zh, en or auto, not \"%s\"; using zh"},

    {TextId::kWindowTitle, "Varnholm自动更新客户端", "Varnholm automatic update client"},
    {TextId::kGroupBox, "自动更新", "Automatic update"},
    {TextId::kServerLabel, "选择服务器：", "Server:"},
    {TextId::kTotalLabel, "更新总进度：", "Total progress:"},
    {TextId::kFileLabel, "当 前 进 度：", "Current file:"},
    {TextId::kCloseButton, "关闭", "Close"},
    {TextId::kAutoSelectButton, "自动选择服务器", "Choose automatically"},
    {TextId::kUpdateNowButton, "立即更新", "Update now"},
    {TextId::kTrayTip, "正在自动更新", "Updating automatically"},
    {TextId::kSocketsFailed, "Windows 套接字初始化失败。",
     "The network layer could not be started."},

    {TextId::kTerminalHint, "输入服务器编号后回车选择服务器，直接回车立即更新，输入 q 退出",
     "Type a server's number and Enter to choose it, Enter alone to update now, q to quit"},
    {TextId::kPressEnter, "按回车键继续", "Press Enter to continue"},
    {TextId::kTerminalProgress, "更新总进度：%d%%  当前进度：%d%%",
     "Total progress: %d%%  current file: %d%%"},
    {TextId::kTerminalServers, "选择服务器：", "Choose a server:"},
    {TextId::kRunCancelled, "更新已取消, 下次运行时从中断处继续",
     "The update was cancelled; the next run continues where this one stopped"},

    {TextId::kCheckConfigFile, "Lodestar.cfg：%s", "Lodestar.cfg: %s"},
    {TextId::kCheckServerlist, "  serverlist：%s", "  serverlist: %s"},
    {TextId::kCheckAutoOn, "  auto：开启, 不经询问使用列表中最后一个服务器",
     "  auto: on, the last server of the list is used without asking"},
    {TextId::kCheckAutoOff, "  auto：关闭, 由用户选择服务器",
     "  auto: off, the user chooses the server"},
    {TextId::kCheckExec, "  exec：%s (已找到)", "  exec: %s (found)"},
    {TextId::kCheckExecMissing, "  exec：%s (未找到)", "  exec: %s (not found)"},
    {TextId::kCheckExecNone, "  exec：无, 更新后不启动程序",
     "  exec: none, nothing is started after an update"},
    {TextId::kCheckParam, "  param：%s", "  param: %s"},
    {TextId::kCheckPubkey, "  pubkey：密钥 ID %s, 只接受用它签名的更新",
     "  pubkey: key ID %s; only updates signed with it are taken"},
    {TextId::kCheckPubkeyNone, "  pubkey：无, 不检查签名",
     "  pubkey: none; no signature is asked for"},
    {TextId::kCheckMaxAge, "  maxage：%lld 天", "  maxage: %lld days"},
    {TextId::kCheckMaxAgeNone, "  maxage：无, 签名不过期",
     "  maxage: none; signatures do not expire"},
    {TextId::kCheckCacert, "  cacert：%s, 只信任其中的根证书",
     "  cacert: %s; https servers must lead to its roots alone"},
    {TextId::kCheckCacertNone, "  cacert：无, 使用系统的根证书",
     "  cacert: none; the system's roots are trusted"},
    {TextId::kCheckFailoverOn, "  failover：开启, 服务器失败时依次尝试列表中的其他服务器",
     "  failover: on; when a server fails a run, the next of the list is tried"},
    {TextId::kCheckFailoverOff, "  failover：关闭", "  failover: off"},
    {TextId::kCheckConnections, "  connections：%u", "  connections: %u at once"},
    {TextId::kCheckLanguage, "  language：%s", "  language: %s"},
    {TextId::kCheckStopped, "配置有误, 不会进行更新",
     "A run would not start: the configuration stops it"},
    {TextId::kCheckServerWouldFetch, "%s：可以更新, 将下载 %u 个文件, 共 %llu 字节",
     "%s: a run would fetch %u files, %llu bytes"},
    {TextId::kCheckServerUpToDate, "%s：已是最新版本, 无需下载",
     "%s: up to date, a run would fetch nothing"},
    {TextId::kCheckServerFails, "%s：从此服务器更新会失败",
     "%s: a run from this server would fail"},
    {TextId::kCheckWouldWork, "自动选择的服务器是 %s：可以更新",
     "A run would use %s, the last server of the list: it would work"},
    {TextId::kCheckWouldFail, "自动选择的服务器是 %s：无法更新",
     "A run would use %s, the last server of the list: it would fail"},
    {TextId::kCheckNoServer, "没有可用的服务器, 无法更新", "No server to use: a run would fail"},
};

constexpr size_t kCount = static_cast<size_t>(TextId::kCount);

// Every id has its row, at its own place.
constexpr bool RowsInOrder() {
  if (sizeof kRows / sizeof kRows[0] != kCount) {
    return false;
  }
  for (size_t i = 0; i < kCount; ++i) {
    if (static_cast<size_t>(kRows[i].id) != i) {
      return false;
    }
  }
  return true;
}
static_assert(RowsInOrder(), "the catalogue holds one row per TextId, in the enum's order");

std::atomic<Language> gLanguage{Language::kChinese};

}  // namespace

const char* Text(TextId id) {
  return Text(id, CurrentLanguage());
}

const char* Text(TextId id, Language language) {
  const size_t index = static_cast<size_t>(id);
  if (index >= kCount) {
    return "";
  }
  return language == Language::kEnglish ? kRows[index].english : kRows[index].chinese;
}

void SetLanguage(Language language) {
  gLanguage.store(language, std::memory_order_relaxed);
}

Language CurrentLanguage() {
  return gLanguage.load(std::memory_order_relaxed);
}

Language LanguageOfLocale(std::string_view locale) {
  return locale.substr(0, 2) == "zh" ? Language::kChinese : Language::kEnglish;
}
