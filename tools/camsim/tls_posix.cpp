#include "tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace camsim {

struct TlsContext::Impl {
    ~Impl() { SSL_CTX_free(context); }
    SSL_CTX* context = nullptr;
};

struct TlsStream::Impl {
    ~Impl() { SSL_free(ssl); }  // also frees both memory BIOs
    SSL* ssl = nullptr;
    BIO* incoming = nullptr;  // bytes from the peer, owned by ssl
    BIO* outgoing = nullptr;  // bytes for the peer, owned by ssl
};

namespace {

X509* MakeCertificate(EVP_PKEY* key) {
    X509* certificate = X509_new();
    if (!certificate)
        return nullptr;
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("camsim"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    if (X509_sign(certificate, key, EVP_sha256()) == 0) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

}  // namespace

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsContext::~TlsContext() = default;

std::shared_ptr<TlsContext> TlsContext::CreateSelfSigned() {
    auto impl = std::make_unique<Impl>();
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* certificate = key ? MakeCertificate(key) : nullptr;
    impl->context = certificate ? SSL_CTX_new(TLS_server_method()) : nullptr;
    const bool ready = impl->context && SSL_CTX_use_certificate(impl->context, certificate) == 1 &&
                       SSL_CTX_use_PrivateKey(impl->context, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!ready)
        return nullptr;
    return std::shared_ptr<TlsContext>(new TlsContext(std::move(impl)));
}

TlsStream::TlsStream(const TlsContext& context, norvane::platform::TcpSocket& socket, unsigned waitMs)
    : impl_(std::make_unique<Impl>()), socket_(socket), waitMs_(waitMs) {
    impl_->ssl = SSL_new(context.impl_->context);
    impl_->incoming = BIO_new(BIO_s_mem());
    impl_->outgoing = BIO_new(BIO_s_mem());
    if (!impl_->ssl || !impl_->incoming || !impl_->outgoing) {
        BIO_free(impl_->incoming);
        BIO_free(impl_->outgoing);
        impl_->incoming = impl_->outgoing = nullptr;
        return;
    }
    SSL_set_bio(impl_->ssl, impl_->incoming, impl_->outgoing);
    SSL_set_accept_state(impl_->ssl);
}

TlsStream::~TlsStream() = default;

bool TlsStream::Flush() {
    char chunk[16384];
    int pending;
    while ((pending = BIO_read(impl_->outgoing, chunk, sizeof chunk)) > 0)
        if (!socket_.SendAllWithin(chunk, static_cast<size_t>(pending), waitMs_))
            return false;
    return true;
}

bool TlsStream::Feed() {
    char chunk[16384];
    const int received = socket_.ReceiveWithin(chunk, sizeof chunk, waitMs_);
    return received > 0 && BIO_write(impl_->incoming, chunk, received) == received;
}

bool TlsStream::Accept(std::string_view received) {
    if (!impl_->incoming)
        return false;
    if (!received.empty() &&
        BIO_write(impl_->incoming, received.data(), static_cast<int>(received.size())) <= 0)
        return false;
    for (;;) {
        const int done = SSL_do_handshake(impl_->ssl);
        if (!Flush())
            return false;
        if (done == 1)
            return true;
        if (SSL_get_error(impl_->ssl, done) != SSL_ERROR_WANT_READ || !Feed()) {
            ERR_clear_error();
            return false;
        }
    }
}

int TlsStream::Receive(void* buffer, size_t size) {
    for (;;) {
        const int read = SSL_read(impl_->ssl, buffer, static_cast<int>(size));
        if (read > 0)
            return read;
        const int error = SSL_get_error(impl_->ssl, read);
        if (error == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (error != SSL_ERROR_WANT_READ || !Flush() || !Feed()) {
            ERR_clear_error();
            return -1;
        }
    }
}

bool TlsStream::Send(const void* data, size_t size) {
    if (size == 0)
        return true;
    return SSL_write(impl_->ssl, data, static_cast<int>(size)) > 0 && Flush();
}

}  // namespace camsim
