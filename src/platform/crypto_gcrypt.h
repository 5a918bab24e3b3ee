#pragma once

#include <gcrypt.h>

#include <string_view>

// What the checking half (crypto_gcrypt.cc) and the signing half (crypto_signing_gcrypt.cc) of
// the libgcrypt wrapper share; nothing else includes this.

// libgcrypt wants one initialisation before any other call; every entry point runs this.
void InitialiseGcrypt();

// Owns one S-expression.
struct Sexp {
  gcry_sexp_t value = nullptr;
  ~Sexp() { gcry_sexp_release(value); }
};

// EdDSA signs the message itself; libgcrypt takes it as the value of a data expression.
bool BuildEddsaData(std::string_view message, Sexp& data);
