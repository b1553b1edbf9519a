#include "server/api/CTlsRecordBuffers.h"

#include <dlfcn.h>
#include <openssl/ssl.h>

#include <atomic>

namespace {

std::atomic<std::size_t> g_released{0};

using SslNew = SSL* (*)(SSL_CTX*);

// libssl's own SSL_new: the next definition after this process's image in the lookup order.
SslNew LibsslNew() {
    static const SslNew next = reinterpret_cast<SslNew>(dlsym(RTLD_NEXT, "SSL_new"));
    return next;
}

}  // namespace

// Found before libssl's, for gRPC and every other caller in the process: the executable's exported
// symbols come first in the lookup order, and it exports this one because libssl's users reference it.
extern "C" SSL* SSL_new(SSL_CTX* context) {
    const SslNew next = LibsslNew();
    if (next == nullptr) {
        return nullptr;  // no libssl loaded: nothing could have made the context
    }
    SSL* ssl = next(context);
    if (ssl != nullptr) {
        SSL_set_mode(ssl, SSL_MODE_RELEASE_BUFFERS);
        g_released.fetch_add(1, std::memory_order_relaxed);
    }
    return ssl;
}

namespace Zun {
namespace Server {

std::size_t CTlsRecordBuffers::Released() {
    return g_released.load(std::memory_order_relaxed);
}

}  // namespace Server
}  // namespace Zun
