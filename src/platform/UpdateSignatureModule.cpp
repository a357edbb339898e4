// The module that carries libsodium: only a downloaded update's signature is checked with it.
#include <sodium.h>

extern "C" __attribute__((visibility("default"))) bool
zelvane_verify_signature(const unsigned char *signature, const unsigned char *data,
                         unsigned long long size, const unsigned char *publicKey) {
    return sodium_init() >= 0 && crypto_sign_verify_detached(signature, data, size, publicKey) == 0;
}
