#include "transfer/transfer_error.h"

namespace {

const char* const kDefaultText = "连接服务器失败, 请选择其他服务器进行尝试";

// Rows 1 to 11; index 0 is unused (success has no text of its own).
const char* const kTexts[] = {
    nullptr,
    "URL解析错误, 请选择其他服务器进行尝试",
    "服务器拒绝连接, 请选择其他服务器进行尝试",
    "重定向失败, 请选择其他服务器进行尝试",
    "重定向URL解析错误, 请选择其他服务器进行尝试",
    "不是HTTP连接, 请选择其他服务器进行尝试",
    "取得服务器文件失败, 请选择其他服务器进行尝试",
    "创建本地文件失败",
    "主动取消连接",
    "URL不正确",
    "文件校验失败",
    "服务器证书无效, 请选择其他服务器进行尝试",
};

}  // namespace

const char* ErrorTextFor(int code) {
  if (code >= UrlParseFailed && code <= TlsFailed) {
    return kTexts[code];
  }
  return kDefaultText;
}
