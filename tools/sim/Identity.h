// The simulator's TLS identity: a private key and a self-signed certificate
// for it, as a controller presents one. Made afresh at every start unless
// files are given, so that tests and demos can keep one identity across
// restarts - a client that remembers the controller's key sees the same
// controller - or change it on purpose.
#pragma once

#include <memory>
#include <string>

struct evp_pkey_st;
struct x509_st;

namespace vemo::sim {

class Identity {
public:
    // A new P-256 key and a certificate for it, signed with it, valid from
    // yesterday for ten years. Throws ServerError when the TLS engine fails.
    static Identity generate();

    // Reads a certificate and its private key from PEM files. Throws
    // ServerError naming the file and what is wrong with it: unreadable, no
    // PEM certificate or key in it (an encrypted key included: the
    // simulator asks for no passphrase), or a key that is not the one of
    // the certificate.
    static Identity load(const std::string& certificateFile, const std::string& keyFile);

    // Writes both as PEM, replacing the files; the key file is readable by
    // its owner only. Throws ServerError naming the file that could not be
    // written.
    void save(const std::string& certificateFile, const std::string& keyFile) const;

    x509_st* certificate() const { return certificate_.get(); }
    evp_pkey_st* key() const { return key_.get(); }

private:
    struct Free {
        void operator()(evp_pkey_st* key) const;
        void operator()(x509_st* certificate) const;
    };
    std::unique_ptr<evp_pkey_st, Free> key_;
    std::unique_ptr<x509_st, Free> certificate_;
};

}  // namespace vemo::sim
