#pragma once
/* The public keys a program trusts besides its own signer's: DER SubjectPublicKeyInfo
   blobs taken from certificates at build time, ended by an entry with no bytes. Each
   signed program is built with one such table (tindra_sign in cmake/signing.cmake
   generates it in C, so that C programs can carry it too); a program that links the
   trust rule without being signed so does not link. */
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct tindra_key_blob {
  const unsigned char* der;
  size_t size;
};

extern const struct tindra_key_blob tindra_further_trusted_keys[];

#ifdef __cplusplus
}
#endif
