#pragma once

// Result codes of a transfer; the low word of WM_TRANSFER_DONE's wParam.
enum TransferError : int {
  TransferOk = 0,
  UrlParseFailed = 1,
  ServerRefused = 2,
  RedirectFailed = 3,
  RedirectUrlParseFailed = 4,
  NotHttp = 5,
  FileRequestFailed = 6,
  LocalFileCreateFailed = 7,
  Cancelled = 8,
  BadUrl = 9,
  FileVerifyFailed = 10,  // the body is not the content its manifest hash names
  TlsFailed = 11,         // the server's certificate was refused, or TLS itself failed
};

// The message text of a code in the process's language; every code without a row of its own
// gives the default text.
const char* ErrorTextFor(int code);
