#include "transfer/transfer_error.h"

#include "texts/texts.h"

namespace {

// Rows 1 to 11; index 0 is unused (success has no text of its own).
const TextId kTexts[] = {
    TextId::kTransferDefault,
    TextId::kTransferUrlParseFailed,
    TextId::kTransferServerRefused,
    TextId::kTransferRedirectFailed,
    TextId::kTransferRedirectUrlParseFailed,
    TextId::kTransferNotHttp,
    TextId::kTransferFileRequestFailed,
    TextId::kTransferLocalFileCreateFailed,
    TextId::kTransferCancelled,
    TextId::kTransferBadUrl,
    TextId::kTransferFileVerifyFailed,
    TextId::kTransferTlsFailed,
};

}  // namespace

const char* ErrorTextFor(int code) {
  if (code >= UrlParseFailed && code <= TlsFailed) {
    return Text(kTexts[code]);
  }
  return Text(TextId::kTransferDefault);
}
