#include "ui/failure_detail.h"

#include "base/install_names.h"
#include "texts/texts.h"
#include "transfer/inet_file.h"
#include "transfer/transfer_error.h"
#include "ui/display_text.h"
#include "ui/format_text.h"

namespace {

// Days since 1970-01-01 as a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  month = shifted < 10 ? shifted + 3 : shifted - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string TransferDetail(const CInetFile& transfer, uint32_t code) {
  const std::string url = DisplayText(transfer.url);
  switch (code) {
    case UrlParseFailed:
      return FormatText(Text(TextId::kDetailNotHttp), url.c_str());
    case LocalFileCreateFailed: {
      if (transfer.localPath.empty()) {
        return Text(TextId::kDetailTemporaryFile);  // a text's temporary file could not be made
      }
      const std::string target =
          transfer.kind == KindFile ? UpdatePathOf(transfer.localPath) : transfer.localPath;
      return FormatText(Text(TextId::kDetailLocalFile), DisplayText(target).c_str());
    }
    case FileVerifyFailed:
      return FormatText(Text(transfer.terms.hashRequired && transfer.terms.sha256.empty()
                                 ? TextId::kDetailNoHash
                                 : TextId::kDetailVerify),
                        url.c_str());
    default:
      break;
  }
  // The HTTP layer's own account when it has one: the URL it last asked for (redirects
  // followed), the status or its words.
  const HttpFailure& failure = transfer.failure;
  const std::string asked = failure.url.empty() ? url : DisplayText(failure.url);
  if (failure.httpStatus != 0) {
    return FormatText(Text(TextId::kDetailHttpStatus), asked.c_str(), failure.httpStatus);
  }
  const std::string reason = failure.reason.empty() ? ErrorTextFor(code) : failure.reason;
  return FormatText(Text(code == TlsFailed ? TextId::kDetailTls : TextId::kDetailTransfer),
                    asked.c_str(), reason.c_str());
}

std::string UnusableListDetail(const std::string& url) {
  return FormatText(Text(TextId::kDetailListUnusable), DisplayText(url).c_str());
}

std::string SignatureDetail(const CInetFile& signature, uint32_t code, SignatureCheck check,
                            const MinisignPublicKey& key, const std::string& signatureText) {
  if (code == FileRequestFailed) {
    return FormatText(Text(TextId::kDetailNoSignature), DisplayText(signature.url).c_str(),
                      signature.failure.httpStatus);
  }
  if (code != TransferOk) {
    return TransferDetail(signature, code);
  }
  const std::string ours = MinisignKeyIdText(key.keyId);
  switch (check) {
    case SignatureCheck::kOtherKey: {
      std::string signer;
      ReadMinisignSignatureKeyId(signatureText, signer);
      return FormatText(Text(TextId::kDetailOtherKey), MinisignKeyIdText(signer).c_str(),
                        ours.c_str());
    }
    case SignatureCheck::kBadSignature:
      return FormatText(Text(TextId::kDetailBadSignature), ours.c_str());
    case SignatureCheck::kBadTrustedComment:
      return Text(TextId::kDetailBadComment);
    case SignatureCheck::kNoTimestamp:
      return Text(TextId::kDetailNoTimestamp);
    case SignatureCheck::kMalformed:
    case SignatureCheck::kValid:
      break;
  }
  return FormatText(Text(TextId::kDetailSignatureMalformed), DisplayText(signature.url).c_str());
}

std::string OlderDetail(int64_t timestamp, int64_t floor) {
  return FormatText(Text(TextId::kDetailOlder), UtcText(timestamp).c_str(), UtcText(floor).c_str());
}

std::string ExpiredDetail(int64_t timestamp, int64_t maxAgeDays) {
  return FormatText(Text(TextId::kDetailExpired), UtcText(timestamp).c_str(),
                    static_cast<long long>(maxAgeDays));
}

std::string UnloadableManifestDetail(const std::string& url) {
  return FormatText(Text(TextId::kDetailManifestUnloadable), DisplayText(url).c_str());
}

std::string UtcText(int64_t seconds) {
  constexpr int64_t kDay = 86400;
  int64_t days = seconds / kDay;
  int64_t rest = seconds % kDay;
  if (rest < 0) {
    rest += kDay;
    --days;
  }
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  return FormatText("%04lld-%02u-%02u %02u:%02u:%02u UTC", static_cast<long long>(year), month, day,
                    static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest % 3600 / 60),
                    static_cast<unsigned>(rest % 60));
}
