#pragma once

#include <string_view>

// The languages Lodestar speaks. Chinese is the default: every text as the program always showed
// it.
enum class Language { kChinese, kEnglish };

// Every text the user can see, by what it says; the catalogue (texts.cc) holds each in every
// language, printf placeholders in the same order. Grouped by where they appear.
enum class TextId {
  // The run's log and status lines.
  kListConnecting,
  kListReceived,
  kListFailed,
  kServerConnecting,
  kManifestReceived,
  kManifestFailed,
  kSignatureInvalid,
  kManifestOlder,
  kManifestExpired,
  kUpToDate,
  kFilesToUpdate,
  kUpdatingFile,
  kFileDownloaded,
  kFileFailed,
  kDeleteFailed,
  kRenameFailed,
  kUpdateFinished,
  kUpdateFinishedWithErrors,
  kSaveFailed,
  kManifestUnloadable,
  kLaunchFailed,
  // The transfer errors by code, and the text of any other code.
  kTransferDefault,
  kTransferUrlParseFailed,
  kTransferServerRefused,
  kTransferRedirectFailed,
  kTransferRedirectUrlParseFailed,
  kTransferNotHttp,
  kTransferFileRequestFailed,
  kTransferLocalFileCreateFailed,
  kTransferCancelled,
  kTransferBadUrl,
  kTransferFileVerifyFailed,
  kTransferTlsFailed,
  // One line of detail under a failure line.
  kDetailHttpStatus,
  kDetailTransfer,
  kDetailTls,
  kDetailNotHttp,
  kDetailLocalFile,
  kDetailTemporaryFile,
  kDetailVerify,
  kDetailNoHash,
  kDetailListUnusable,
  kDetailNoSignature,
  kDetailSignatureMalformed,
  kDetailOtherKey,
  kDetailBadSignature,
  kDetailBadComment,
  kDetailNoTimestamp,
  kDetailOlder,
  kDetailExpired,
  kDetailManifestUnloadable,
  // The configuration, read at start-up.
  kPubkeyUnread,
  kPubkeyInvalid,
  kMaxAgeInvalid,
  kCacertUnread,
  kCacertMissing,
  kCacertUnreadable,
  kCacertUnusable,
  kQuoteHint,
  kConfigMissing,
  kConfigUnreadable,
  kConfigNoServerlist,
  kConfigReaderStopped,
  kReaderColonInValue,
  kReaderBracketForKey,
  kReaderClosingBracket,
  kReaderAfterBracket,
  kReaderEndsOpen,
  kReaderEmpty,
  kConfigUnknownKey,
  kConfigExecBlank,
  kConfigLanguageUnknown,
  // The window, its tray icon and its message boxes.
  kWindowTitle,
  kGroupBox,
  kServerLabel,
  kTotalLabel,
  kFileLabel,
  kCloseButton,
  kAutoSelectButton,
  kUpdateNowButton,
  kTrayTip,
  kSocketsFailed,
  // The terminal.
  kTerminalHint,
  kPressEnter,
  kTerminalProgress,
  kTerminalServers,
  kRunCancelled,
  // Lodestar --check.
  kCheckConfigFile,
  kCheckServerlist,
  kCheckAutoOn,
  kCheckAutoOff,
  kCheckExec,
  kCheckExecMissing,
  kCheckExecNone,
  kCheckParam,
  kCheckPubkey,
  kCheckPubkeyNone,
  kCheckMaxAge,
  kCheckMaxAgeNone,
  kCheckCacert,
  kCheckCacertNone,
  kCheckFailoverOn,
  kCheckFailoverOff,
  kCheckConnections,
  kCheckLanguage,
  kCheckStopped,
  kCheckServerWouldFetch,
  kCheckServerUpToDate,
  kCheckServerFails,
  kCheckWouldWork,
  kCheckWouldFail,
  kCheckNoServer,
  kCount,  // not a text: how many there are
};

// The text of id in the process's language (Chinese until SetLanguage). Any thread.
const char* Text(TextId id);
// The text of id in the given language. Any thread.
const char* Text(TextId id, Language language);

// Chooses the process's language: once, at start-up, before other threads run (reading it is safe
// from any thread afterwards).
void SetLanguage(Language language);
Language CurrentLanguage();

// The language a locale name stands for ("zh_CN.UTF-8", "zh-TW", "en_US", "C"...): Chinese for
// names that start with "zh", English for every other.
Language LanguageOfLocale(std::string_view locale);
