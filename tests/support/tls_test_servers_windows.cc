#include <windows.h>
// After windows.h, which it builds on.
#include <wincrypt.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/wide_text.h"
#include "support/tls_test_servers.h"
#include "transfer/trusted_roots.h"

namespace {

// The host's path of a path of this process, as only Wine can tell; "" elsewhere.
std::string HostPath(const std::string& path) {
  using ToHostPath = char*(CDECL*)(const wchar_t*);
  const auto convert = reinterpret_cast<ToHostPath>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) {
    return "";
  }
  char* converted = convert(ToWide(path).c_str());
  if (!converted) {
    return "";
  }
  std::string hostPath = converted;
  HeapFree(GetProcessHeap(), 0, converted);
  return hostPath;
}

}  // namespace

// Wine starts a host program as any other, but hands back no handle to wait on: the script's
// own files tell when it is done. Nor has a program under Wine a process id of the host's for the
// script to watch: while the servers are ours, a file of their folder is held open instead.
std::string TlsTestServers::RunScript(const std::string& command) {
  const std::string folder = HostPath(dir_.path());
  if (folder.empty()) {
    return "only Wine can start the host's servers";
  }
  std::string owner;
  if (command == "start") {
    owner_ = CreateFileW(ToWide(dir_.File("owner")).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (owner_ == INVALID_HANDLE_VALUE) {
      owner_ = nullptr;
      return "the servers' owner file could not be made";
    }
    owner = " \"" + folder + "/owner\"";
  }
  std::wstring line = ToWide("Z:\\bin\\bash \"" LODESTAR_TLS_TEST_SERVERS "\" " + command + " \"" +
                             folder + "\"" + owner);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process);
  if (process.hProcess) {
    CloseHandle(process.hProcess);
  }
  if (process.hThread) {
    CloseHandle(process.hThread);
  }
  // Stopping waits for nginx and squid to end: the script's five seconds at most, and some.
  const std::string done = dir_.File(command == "start" ? "ready" : "stopped");
  std::string why = started ? "tls-test-servers did not " + command + " in time"
                            : "the host's bash could not be started";
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(command == "start" ? 60 : 20);
  while (started && std::chrono::steady_clock::now() < deadline) {
    if (FileExists(done)) {
      why = "";
      break;
    }
    if (command == "start" && FileExists(dir_.File("failed"))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it be written whole
      why = "tls-test-servers start failed: " + ReadFileBytes(dir_.File("failed"));
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (command == "stop" && owner_) {
    CloseHandle(owner_);
    owner_ = nullptr;
  }
  return why;
}

// Wine's system roots are the host's, read into the machine's registry store when Wine starts;
// a certificate added there through CryptoAPI is taken but never seen again. Its entry written
// straight into the store's registry key, as Windows lays it out, is.
std::string TrustInSystemStore(const std::string& caFile) {
  const std::vector<std::string> blocks = PemCertificateBlocks(ReadFileBytes(caFile));
  if (blocks.empty()) {
    return "no certificate in " + caFile;
  }
  DWORD size = 0;
  if (!CryptStringToBinaryA(blocks[0].data(), static_cast<DWORD>(blocks[0].size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return "the CA's certificate could not be read";
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(blocks[0].data(), static_cast<DWORD>(blocks[0].size()),
                       CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
  PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
  if (!certificate) {
    return "the CA's certificate could not be read";
  }
  BYTE hash[20];
  DWORD hashSize = sizeof hash;
  DWORD blobSize = 0;
  std::vector<BYTE> blob;
  bool made =
      CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &hashSize) &&
      CertSerializeCertificateStoreElement(certificate, 0, nullptr, &blobSize);
  if (made) {
    blob.resize(blobSize);
    made = CertSerializeCertificateStoreElement(certificate, 0, blob.data(), &blobSize);
  }
  CertFreeCertificateContext(certificate);
  if (!made) {
    return "the CA's certificate could not be serialised";
  }
  std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  for (BYTE byte : hash) {
    key += kHex[byte >> 4];
    key += kHex[byte & 0x0F];
  }
  HKEY entry = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &entry, nullptr) != ERROR_SUCCESS) {
    return "the machine's root store can't be written (not Wine, or not an administrator)";
  }
  const LONG written =
      RegSetValueExW(entry, L"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
  RegCloseKey(entry);
  return written == ERROR_SUCCESS ? "" : "the machine's root store can't be written";
}
