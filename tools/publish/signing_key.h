#pragma once

#include <string>

#include "publish/release_scanner.h"
#include "publish/signing/minisign_signing.h"

// The publisher's key files: making a key pair and opening a secret key, with the password from
// LODESTAR_KEY_PASSWORD or asked on the terminal without echo. Throw PublishError. Publishing
// thread.

// The environment variable that supplies the password when nobody is at a terminal.
constexpr const char* kKeyPasswordVariable = "LODESTAR_KEY_PASSWORD";

// Writes DIR/lodestar.pub and DIR/lodestar.key (mode 0600), never replacing either, each through
// the descriptor that created it, and flushes both to disk; DIR is created when missing. Returns
// the public key's base64 line. The password comes from the environment, else from the terminal
// (asked twice; empty for none); without either the key is stored without a password and a note
// says so on the way, through note.
std::string WriteNewKeyPair(const std::string& directory, const PasswordCost& cost,
                            const PublishLog& note);

// Reads a secret key file made by WriteNewKeyPair or by minisign -G, asking for its password
// when it has one. A file that group or others may read is refused, with the chmod that fixes it.
MinisignSecretKey OpenSecretKey(const std::string& path);
