// lodestar-publish: turns a release folder into what a Lodestar update server serves.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "publish/bucket_upload.h"
#include "publish/publish_error.h"
#include "publish/publisher.h"
#include "publish/release_install.h"
#include "publish/signing_key.h"

namespace {

constexpr const char* kUsage =
    "Usage: lodestar-publish [OPTIONS] APP_DIR OUT_DIR\n"
    "       lodestar-publish --resign KEYFILE OUT_DIR\n"
    "       lodestar-publish --keygen DIR\n"
    "       lodestar-publish --upload OUT_DIR s3://BUCKET/PREFIX\n"
    "       lodestar-publish --install OUT_DIR DEST --client PATH --serverlist URL [OPTIONS]\n"
    "\n"
    "Publishes the release in APP_DIR for Lodestar clients. Writes a copy of every file to\n"
    "OUT_DIR/<folder>/<name>.txt and the manifest OUT_DIR/version.txt, which is put in place\n"
    "last, so clients never see a half-published release. Serve OUT_DIR over HTTP.\n"
    "\n"
    "Versions carry on from the manifest already in OUT_DIR: a file with the same content keeps\n"
    "its version, a changed file gets the next one, a new file starts at 1; files that left the\n"
    "release are removed from OUT_DIR.\n"
    "\n"
    "Left out by default: the client's own files at the top of APP_DIR (Lodestar.cfg,\n"
    "version.txt, version.txt.progress, version.txt.minisig, version.txt.commit and\n"
    "Lodestar.cacert.pem) and any name ending in .update.\n"
    "Symbolic links to files are published as the file they point to; links to folders and\n"
    "special files are skipped with a warning.\n"
    "\n"
    "Options:\n"
    "  --exclude PATTERN  also leave out files and folders whose path below APP_DIR or whose\n"
    "                     name matches the glob PATTERN (e.g. '*.log', 'cache', 'docs/*');\n"
    "                     may be given many times\n"
    "  --sign KEYFILE     sign the manifest with the minisign secret key KEYFILE into\n"
    "                     OUT_DIR/version.txt.minisig (check it with: minisign -V -p PUBFILE\n"
    "                     -m OUT_DIR/version.txt); once a release is signed, every later\n"
    "                     publish into OUT_DIR must be signed too\n"
    "  --unsigned         publish over a signed release without signing (its old signature is\n"
    "                     removed; sign the new version.txt with minisign -S afterwards)\n"
    "  --resign KEYFILE   sign the manifest that OUT_DIR serves again with a fresh timestamp,\n"
    "                     changing nothing else, so that clients with a maxage keep taking it\n"
    "                     (run it on a schedule, e.g. from cron); refused unless the served\n"
    "                     signature is KEYFILE's own over the served manifest\n"
    "  --keygen DIR       write a new key pair, DIR/lodestar.pub and DIR/lodestar.key, in\n"
    "                     minisign's formats, and print the public key line for Lodestar.cfg\n"
    "  --upload OUT_DIR s3://BUCKET/PREFIX\n"
    "                     copy the release OUT_DIR serves to an S3-compatible store: the new\n"
    "                     and changed copies first (each checked), then version.txt, then its\n"
    "                     signature, then the removal of the objects that neither this release\n"
    "                     nor the one before it uses; rerun it after a failure to finish. Keys\n"
    "                     and store from AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY,\n"
    "                     AWS_SESSION_TOKEN, AWS_REGION and AWS_ENDPOINT_URL (path-style there)\n"
    "  --install OUT_DIR DEST\n"
    "                     make an installation of the release OUT_DIR serves in the new or empty\n"
    "                     folder DEST: its files, version.txt and its signature, the client and\n"
    "                     its Lodestar.cfg; a first run of it is up to date at once. With:\n"
    "    --client PATH      the Lodestar binary to install (required)\n"
    "    --serverlist URL   the server list's URL (required)\n"
    "    --pubkey PUBFILE   the public key that verifies the release's signature (required\n"
    "                       for a signed release, refused for an unsigned one)\n"
    "    --cacert PEMFILE   roots for https instead of the system's, copied beside the client\n"
    "                       as Lodestar.cacert.pem (a private CA)\n"
    "    --exec PROGRAM, --param TEXT, --auto, --language zh|en|auto, --failover\n"
    "                       the other values of Lodestar.cfg\n"
    "  --patches K        also serve, for each file, patches from the contents its path had in\n"
    "                     each of the last K releases (default 3; 0 for none); every file gets a\n"
    "                     compressed copy where it saves at least 5% (both below _lodestar/)\n"
    "  -q, --quiet        print only the summary\n"
    "  -h, --help         print this help\n"
    "\n"
    "A secret key's password is read from LODESTAR_KEY_PASSWORD when it is set, else asked on the\n"
    "terminal (for --keygen, an empty password stores the key without one).\n"
    "\n"
    "Exit status: 0 done, 1 failed (the release served before stays whole), 2 wrong usage.\n";

int UsageError(const std::string& message) {
  std::cerr << "lodestar-publish: " << message << "\n"
            << "Try 'lodestar-publish --help'.\n";
  return 2;
}

void Warn(const std::string& line) {
  std::cerr << "lodestar-publish: " << line << "\n";
}

// Runs one command and reports its failure on standard error: 0 when it did its work, 1 when not.
template <typename Command>
int Reported(Command command) {
  try {
    command();
    return 0;
  } catch (const PublishError& error) {
    Warn(error.what());
  } catch (const std::exception& error) {
    Warn(std::string("unexpected failure: ") + error.what());
  }
  return 1;
}

int MakeKeys(const std::string& directory) {
  return Reported([&] {
    std::string line = WriteNewKeyPair(directory, PasswordCost(), Warn);
    std::cout << "wrote " << directory << "/lodestar.pub and " << directory
              << "/lodestar.key (keep this one secret)\n"
              << "for Lodestar.cfg:  pubkey:\"" << line << "\"\n";
  });
}

// Prints changes (unless quiet) to standard output and warnings to standard error.
PublishLog MakeLog(bool quiet) {
  return [quiet](const std::string& line) {
    if (line.rfind("warning:", 0) == 0) {
      std::cerr << "lodestar-publish: " << line << "\n";
    } else if (!quiet) {
      std::cout << "  " << line << "\n";
    }
  };
}

int SignAgain(const std::string& keyFile, const std::string& outDir, bool quiet) {
  return Reported([&] {
    MinisignSecretKey key = OpenSecretKey(keyFile);
    ResignSummary summary = Resign(outDir, key, 0, MakeLog(quiet));
    std::cout << "signed " << summary.manifest << " again with key " << MinisignKeyIdText(key.keyId)
              << " (timestamp " << summary.signedAt;
    if (summary.previous >= 0) {
      std::cout << ", was " << summary.previous;
    }
    std::cout << "); nothing else changed\n";
  });
}

int SendToStore(const std::string& outDir, const std::string& address, bool quiet) {
  return Reported([&] {
    UploadOptions options;
    options.outDir = outDir;
    options.address = address;
    options.log = MakeLog(quiet);
    UploadSummary summary = Upload(options);
    std::cout << "uploaded " << summary.files << (summary.files == 1 ? " file" : " files") << " ("
              << summary.bytes << " bytes) to " << summary.address << ": " << summary.sent
              << " sent (" << summary.sentBytes << " bytes), " << summary.present
              << " already there, " << summary.removed << " removed; version.txt "
              << (summary.manifestSent ? "sent" : "was there already") << "\n";
  });
}

int MakeInstallation(const InstallOptions& options) {
  return Reported([&] {
    InstallSummary summary = Install(options);
    std::cout << "installed " << summary.files << (summary.files == 1 ? " file" : " files") << " ("
              << summary.bytes << " bytes), Lodestar and Lodestar.cfg"
              << (options.caCertFile.empty() ? "" : " with its roots") << " into "
              << options.destination;
    if (summary.signedAt >= 0) {
      std::cout << " (signed release, timestamp " << summary.signedAt << ")";
    }
    std::cout << "\n";
  });
}

}  // namespace

int main(int argc, char** argv) {
  PublishOptions options;
  InstallOptions install;
  bool quiet = false;
  std::string positional[2];
  int count = 0;
  bool optionsEnded = false;
  std::string keyFile;
  std::string keygenDir;
  std::string resignKeyFile;
  std::string mode;  // "--upload" or "--install"; "" to publish
  bool installOptions = false;
  bool patchesGiven = false;
  // The options that take a value, and where it goes.
  const std::map<std::string, std::string*> valued = {{"--sign", &keyFile},
                                                      {"--resign", &resignKeyFile},
                                                      {"--keygen", &keygenDir},
                                                      {"--client", &install.client},
                                                      {"--serverlist", &install.config.serverList},
                                                      {"--pubkey", &install.publicKeyFile},
                                                      {"--exec", &install.config.exec},
                                                      {"--param", &install.config.param},
                                                      {"--language", &install.config.language},
                                                      {"--cacert", &install.caCertFile}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = valued.find(arg);
    if (optionsEnded) {
      if (count == 2) {
        return UsageError("too many arguments");
      }
      positional[count++] = arg;
    } else if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (arg == "--exclude") {
      if (i + 1 >= argc) {
        return UsageError("--exclude needs a PATTERN");
      }
      options.excludes.push_back(argv[++i]);
    } else if (arg == "--patches") {
      const char* text = i + 1 < argc ? argv[++i] : "";
      char* end = nullptr;
      long releases = std::strtol(text, &end, 10);
      if (*text == '\0' || *end != '\0' || releases < 0 || releases > 100) {
        return UsageError("--patches takes a number of releases from 0 to 100");
      }
      options.deltas.patchReleases = static_cast<size_t>(releases);
      patchesGiven = true;
    } else if (arg.rfind("--exclude=", 0) == 0) {
      options.excludes.push_back(arg.substr(std::strlen("--exclude=")));
    } else if (value != valued.end()) {
      if (i + 1 >= argc) {
        return UsageError(arg + " needs a value");
      }
      *value->second = argv[++i];
      installOptions =
          installOptions || (value->second != &keyFile && value->second != &resignKeyFile &&
                             value->second != &keygenDir);
    } else if (arg == "--auto") {
      install.config.automatic = true;
      installOptions = true;
    } else if (arg == "--failover") {
      install.config.failover = true;
      installOptions = true;
    } else if (arg == "--upload" || arg == "--install") {
      if (!mode.empty() && mode != arg) {
        return UsageError("--upload and --install exclude each other");
      }
      mode = arg;
    } else if (arg == "--unsigned") {
      options.allowUnsigned = true;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else {
      if (count == 2) {
        return UsageError("too many arguments");
      }
      positional[count++] = arg;
    }
  }
  const bool publishing =
      !keyFile.empty() || options.allowUnsigned || !options.excludes.empty() || patchesGiven;
  if (installOptions && mode != "--install") {
    return UsageError(
        "--client, --serverlist, --pubkey, --exec, --param, --auto, --language, --cacert and "
        "--failover go with --install");
  }
  if (!keygenDir.empty()) {
    if (count > 0 || !keyFile.empty() || !resignKeyFile.empty() || !mode.empty()) {
      return UsageError("--keygen DIR takes nothing else");
    }
    return MakeKeys(keygenDir);
  }
  if (!resignKeyFile.empty()) {
    if (count != 1 || publishing || !mode.empty()) {
      return UsageError("--resign KEYFILE takes OUT_DIR and nothing else");
    }
    return SignAgain(resignKeyFile, positional[0], quiet);
  }
  if (mode == "--upload") {
    if (count != 2 || publishing) {
      return UsageError("--upload takes OUT_DIR and s3://BUCKET/PREFIX and nothing else");
    }
    return SendToStore(positional[0], positional[1], quiet);
  }
  if (mode == "--install") {
    if (count != 2 || publishing) {
      return UsageError("--install takes OUT_DIR and DEST, with its own options only");
    }
    if (install.client.empty() || install.config.serverList.empty()) {
      return UsageError("--install needs --client PATH and --serverlist URL");
    }
    const std::string& language = install.config.language;
    if (!language.empty() && language != "zh" && language != "en" && language != "auto") {
      return UsageError("--language takes zh, en or auto");
    }
    install.outDir = positional[0];
    install.destination = positional[1];
    return MakeInstallation(install);
  }
  if (count < 2) {
    return UsageError("APP_DIR and OUT_DIR are required");
  }
  if (options.allowUnsigned && !keyFile.empty()) {
    return UsageError("--sign and --unsigned exclude each other");
  }
  options.appDir = positional[0];
  options.outDir = positional[1];
  options.log = MakeLog(quiet);

  return Reported([&] {
    // The key first: a wrong password must fail before anything is staged.
    if (!keyFile.empty()) {
      options.signingKey = OpenSecretKey(keyFile);
    }
    PublishSummary summary = Publish(options);
    std::cout << "published " << summary.files << (summary.files == 1 ? " file" : " files") << " ("
              << summary.bytes << " bytes) to " << options.outDir << ": "
              << summary.changed + summary.added << " changed (" << summary.added << " new, "
              << summary.changed << " updated), " << summary.unchanged << " unchanged, "
              << summary.removed << " removed\n";
    if (!quiet) {
      std::cout << "compressed copies and patches: " << summary.deltas.made << " made ("
                << summary.deltas.bytesMade << " bytes kept), " << summary.deltas.reused
                << " reused, " << summary.pruned << " pruned\n";
    }
    if (options.signingKey) {
      std::cout << "signed version.txt with key " << MinisignKeyIdText(options.signingKey->keyId)
                << " (timestamp " << summary.signedAt << ")\n";
    } else {
      std::cout << "the release is unsigned (to sign it, see \"Publishing signed releases\" in "
                   "README.md)\n";
    }
  });
}
