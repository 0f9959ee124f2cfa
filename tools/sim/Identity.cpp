#include "Identity.h"

#include "Server.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vemo::sim {

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::string readFile(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ServerError(std::string(what) + " " + path + ": cannot be read: " + std::strerror(errno));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Replaces the file with the text, created with the given permissions (and
// set to them when it existed).
void writeFile(const std::string& path, const std::string& text, mode_t mode, const char* what) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    const int error = errno;
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) throw ServerError(std::string(what) + " " + path + ": cannot be written: " + std::strerror(error));
}

// A memory BIO over a text the caller keeps.
BioPtr reading(const std::string& text) { return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size()))); }

// The PEM text a write into a memory BIO left there.
std::string written(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

// What the TLS engine could not read stays out of its error queue, where
// it would be taken for the failure of a later call.
[[noreturn]] void fail(const std::string& message) {
    ERR_clear_error();
    throw ServerError(message);
}

// Refuses every passphrase prompt: an encrypted key is no key here.
int noPassphrase(char*, int, int, void*) { return -1; }

}  // namespace

void Identity::Free::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }
void Identity::Free::operator()(x509_st* certificate) const { X509_free(certificate); }

Identity Identity::generate() {
    Identity id;
    id.key_.reset(EVP_EC_gen("P-256"));
    id.certificate_.reset(X509_new());
    X509* cert = id.certificate_.get();
    if (id.key_ == nullptr || cert == nullptr) fail("no key could be made for the TLS server");
    constexpr long kDay = 24 * 3600;
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3650 * kDay);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("vemo-s7-sim"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    if (X509_set_pubkey(cert, id.key_.get()) != 1 || X509_sign(cert, id.key_.get(), EVP_sha256()) == 0) {
        fail("no certificate could be made for the TLS server");
    }
    return id;
}

Identity Identity::load(const std::string& certificateFile, const std::string& keyFile) {
    const std::string certText = readFile(certificateFile, "certificate");
    const std::string keyText = readFile(keyFile, "key");
    Identity id;
    BioPtr certIn = reading(certText);
    BioPtr keyIn = reading(keyText);
    if (certIn == nullptr || keyIn == nullptr) fail("out of memory reading the TLS identity");
    id.certificate_.reset(PEM_read_bio_X509(certIn.get(), nullptr, noPassphrase, nullptr));
    if (id.certificate_ == nullptr) {
        fail("certificate " + certificateFile + ": holds no PEM certificate");
    }
    id.key_.reset(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, noPassphrase, nullptr));
    if (id.key_ == nullptr) {
        fail("key " + keyFile + ": holds no unencrypted PEM private key");
    }
    if (X509_check_private_key(id.certificate_.get(), id.key_.get()) != 1) {
        fail("key " + keyFile + ": is not the key of the certificate in " + certificateFile);
    }
    return id;
}

void Identity::save(const std::string& certificateFile, const std::string& keyFile) const {
    BioPtr certOut(BIO_new(BIO_s_mem()));
    BioPtr keyOut(BIO_new(BIO_s_mem()));
    if (certOut == nullptr || keyOut == nullptr || PEM_write_bio_X509(certOut.get(), certificate_.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyOut.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        fail("the TLS identity could not be written as PEM");
    }
    writeFile(keyFile, written(keyOut.get()), 0600, "key");
    writeFile(certificateFile, written(certOut.get()), 0644, "certificate");
}

}  // namespace vemo::sim
