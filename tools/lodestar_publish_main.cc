// lodestar-publish: turns a release folder into what a Lodestar update server serves.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "publish/publish_error.h"
#include "publish/publisher.h"
#include "publish/signing_key.h"

namespace {

constexpr const char* kUsage =
    "Usage: lodestar-publish [OPTIONS] APP_DIR OUT_DIR\n"
    "       lodestar-publish --resign KEYFILE OUT_DIR\n"
    "       lodestar-publish --keygen DIR\n"
    "\n"
    "Publishes the release in APP_DIR for Lodestar clients. Writes a copy of every file to\n"
    "OUT_DIR/<folder>/<name>.txt and the manifest OUT_DIR/version.txt, which is put in place\n"
    "last, so clients never see a half-published release. Serve OUT_DIR over HTTP.\n"
    "\n"
    "Versions carry on from the manifest already in OUT_DIR: a file with the same content keeps\n"
    "its version, a changed file gets the next one, a new file starts at 1; files that left the\n"
    "release are removed from OUT_DIR.\n"
    "\n"
    "Left out by default: Lodestar.cfg and version.txt at the top of APP_DIR, and any name\n"
    "ending in .update. Symbolic links to files are published as the file they point to; links\n"
    "to folders and special files are skipped with a warning.\n"
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
    "  -q, --quiet        print only the summary\n"
    "  -h, --help         print this help\n"
    "\n"
    "A secret key's password is read from LODESTAR_KEY_PASSWORD when it is set, else asked on the\n"
    "terminal (for --keygen, an empty password stores the key without one).\n"
    "\n"
    "Exit status: 0 published (or signed again), 1 failed (the release served before stays\n"
    "whole), 2 wrong usage.\n";

int UsageError(const std::string& message) {
  std::cerr << "lodestar-publish: " << message << "\n"
            << "Try 'lodestar-publish --help'.\n";
  return 2;
}

void Warn(const std::string& line) {
  std::cerr << "lodestar-publish: " << line << "\n";
}

int MakeKeys(const std::string& directory) {
  try {
    std::string line = WriteNewKeyPair(directory, PasswordCost(), Warn);
    std::cout << "wrote " << directory << "/lodestar.pub and " << directory
              << "/lodestar.key (keep this one secret)\n"
              << "for Lodestar.cfg:  pubkey:\"" << line << "\"\n";
    return 0;
  } catch (const PublishError& error) {
    Warn(error.what());
  }
  return 1;
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
  try {
    MinisignSecretKey key = OpenSecretKey(keyFile);
    ResignSummary summary = Resign(outDir, key, 0, MakeLog(quiet));
    std::cout << "signed " << summary.manifest << " again with key " << MinisignKeyIdText(key.keyId)
              << " (timestamp " << summary.signedAt;
    if (summary.previous >= 0) {
      std::cout << ", was " << summary.previous;
    }
    std::cout << "); nothing else changed\n";
    return 0;
  } catch (const PublishError& error) {
    Warn(error.what());
  } catch (const std::exception& error) {
    Warn(std::string("unexpected failure: ") + error.what());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  PublishOptions options;
  bool quiet = false;
  std::string positional[2];
  int count = 0;
  bool optionsEnded = false;
  std::string keyFile;
  std::string keygenDir;
  std::string resignKeyFile;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      std::cout << kUsage;
      return 0;
    } else if (!optionsEnded && (arg == "-q" || arg == "--quiet")) {
      quiet = true;
    } else if (!optionsEnded && arg == "--exclude") {
      if (i + 1 >= argc) {
        return UsageError("--exclude needs a PATTERN");
      }
      options.excludes.push_back(argv[++i]);
    } else if (!optionsEnded && arg.rfind("--exclude=", 0) == 0) {
      options.excludes.push_back(arg.substr(std::strlen("--exclude=")));
    } else if (!optionsEnded && (arg == "--sign" || arg == "--resign" || arg == "--keygen")) {
      if (i + 1 >= argc) {
        return UsageError(arg + (arg == "--keygen" ? " needs a DIR" : " needs a KEYFILE"));
      }
      (arg == "--sign" ? keyFile : arg == "--resign" ? resignKeyFile : keygenDir) = argv[++i];
    } else if (!optionsEnded && arg == "--unsigned") {
      options.allowUnsigned = true;
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else {
      if (count == 2) {
        return UsageError("too many arguments");
      }
      positional[count++] = arg;
    }
  }
  if (!keygenDir.empty()) {
    if (count > 0 || !keyFile.empty() || !resignKeyFile.empty()) {
      return UsageError("--keygen DIR takes nothing else");
    }
    return MakeKeys(keygenDir);
  }
  if (!resignKeyFile.empty()) {
    if (count != 1 || !keyFile.empty() || options.allowUnsigned || !options.excludes.empty()) {
      return UsageError("--resign KEYFILE takes OUT_DIR and nothing else");
    }
    return SignAgain(resignKeyFile, positional[0], quiet);
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

  try {
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
    if (options.signingKey) {
      std::cout << "signed version.txt with key " << MinisignKeyIdText(options.signingKey->keyId)
                << " (timestamp " << summary.signedAt << ")\n";
    } else {
      std::cout << "the release is unsigned (to sign it, see \"Publishing signed releases\" in "
                   "README.md)\n";
    }
    return 0;
  } catch (const PublishError& error) {
    std::cerr << "lodestar-publish: " << error.what() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "lodestar-publish: unexpected failure: " << error.what() << "\n";
  }
  return 1;
}
