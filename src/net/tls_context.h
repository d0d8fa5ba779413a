// What every TLS channel of the process shares: one client context and the sessions to resume.
//
// The context is made on first use, under a lock, with the trust store read once from the sources
// the platform names (platform::ReadTrustSources): on Windows the ROOT store plus the file and
// folder that SSL_CERT_FILE / SSL_CERT_DIR name, never OpenSSL's compiled-in folders; on Linux
// OpenSSL's default verify paths, which take SSL_CERT_FILE / SSL_CERT_DIR themselves. The
// variables count as they are at that moment: later changes do not reach this process. Each
// channel makes its connection object from the context.
//
// Sessions are kept by server: the host name of the request URL (the name the certificate was
// checked against) and the URL's port. The last session of a server is offered on the next
// handshake with the same host name and port, and never to another one; a server that declines it
// gets a full handshake with every check. A failed handshake drops the server's session.
//
// The context and the sessions live as long as the loaded TLS library: they are freed when this
// library is unloaded (UnloadOpenSsl), and never at the end of the process, when other threads may
// still be inside a call.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/openssl/binding.h"

namespace tessora {

// Sessions kept at most: calls go to one API host, and a few more servers (tests, a changed
// environment) fit easily. One more pushes out the one offered or kept least recently.
inline constexpr std::size_t kMaxKeptSessions = 32;

// The cipher list of the client context.
inline constexpr char kClientCipherList[] = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

// The process's client context, made on first use. Raises (ErrorKind::kTlsLibrary) "Error getting
// SSL method.", "Error creating SSL context." CR LF the TLS library's reason, or "SetCipher
// failed."; nothing is kept then, and the next call tries again.
openssl::Context* SharedClientContext(const openssl::Api& api);

// Sessions are kept per host:port and highest protocol version (`maxVersion`, TLS 1.2 by
// default): a TLS 1.3 session is never offered on a connection limited to TLS 1.2.
//
// Offers the session kept for host:port on the connection's coming handshake; nothing when none is
// kept or the library cannot resume.
void OfferKeptSession(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& host, int port,
                      long maxVersion = openssl::kTls12Version);
// After a completed handshake: keeps the connection's session for host:port in place of the one
// kept before.
void KeepSession(const openssl::Api& api, openssl::Connection* connection,
                 const std::u16string& host, int port, long maxVersion = openssl::kTls12Version);
// After a failed handshake: forgets the session kept for host:port.
void DropKeptSession(const std::u16string& host, int port,
                     long maxVersion = openssl::kTls12Version);

// The PEM file (UTF-8 path, "" for none) whose certificates the context trusts beside the
// platform's sources. It is read when the context is made, once for the whole process: false (and
// nothing changes) when the context exists already and was made with another file, or for a path
// longer than 12288 bytes.
bool SetTrustedCaFile(const std::string& path);

// Frees the context and every kept session; the next channel makes a new context.
void ReleaseSharedTls();

// The TLS library's text for an error number ("" without the library or its error texts).
std::u16string TlsErrorText(const openssl::Api* api, unsigned long error);

// The DER encoding of a certificate of the TLS library; empty when it cannot be had.
std::string CertificateDer(const openssl::Api& api, openssl::Certificate* certificate);

// The client context's verification callback, for a connection that sets a callback of its own
// to call with the check's verdict: refuses ("certificate rejected") a certificate of the chain
// that the system distrusts (platform::SystemDistrusts), where the context checks that; otherwise
// returns the verdict unchanged.
int RefuseDistrusted(int preverifyOk, openssl::StoreContext* store);

// Where the client context's trusted certificates came from.
struct TrustInUse {
  std::string systemStore;       // the system store whose roots were added ("" for none)
  int systemCertificates = 0;    // how many of them the trust store took
  bool systemLookup = false;     // its roots are looked up by subject when needed, not added
  bool libraryDefaults = false;  // OpenSSL's default verify paths are in use
  std::string defaultFile;       // those paths, as the TLS library tells them
  std::string defaultDir;
  std::string certFile;  // SSL_CERT_FILE / SSL_CERT_DIR when the context was made ("" unset)
  std::string certDir;
  bool certFileLoaded = false;  // loaded (where the channel loads them itself: it succeeded)
  bool certDirLoaded = false;
  std::string caFile;  // the tls.ca-file setting's file ("" none), and whether it was loaded
  bool caFileLoaded = false;
};

// The trust of the process's client context; nothing before the context is made.
std::optional<TrustInUse> SharedTrustInUse();

// One line for people, e.g. "Windows ROOT store (149 certificates) + SSL_CERT_FILE=C:\ca.pem",
// "Windows ROOT store (looked up by issuer)" or
// "OpenSSL default paths (/usr/lib/ssl/certs) + SSL_CERT_FILE=/etc/ca.pem + tls.ca-file=ca.pem".
std::string DescribeTrust(const TrustInUse& trust);

// Where the context's lookup by subject finds roots: the subject's DER encoding in, the DER
// encodings of the roots with that subject out.
using RootSource = std::vector<std::string> (*)(std::string_view subject);

// For tests: the contexts made from now on look roots up in `source` (besides the other trust
// sources, on every platform) instead of the system store; nullptr restores the system store.
// Takes effect with the next context (ReleaseSharedTls first).
void SetRootSourceForTesting(RootSource source);

// Whether the context refuses a certificate (its DER encoding) as the system's distrusted ones.
using DistrustSource = bool (*)(std::string_view certificate);

// For tests: the contexts made from now on refuse the certificates `source` distrusts (on every
// platform) instead of the system's; nullptr restores the system's. Takes effect with the next
// context (ReleaseSharedTls first).
void SetDistrustSourceForTesting(DistrustSource source);

// For tests: forgets every kept session (the context stays), so that no test resumes a session
// an earlier one left.
void ForgetKeptSessionsForTesting();
// For tests: how many client contexts this process has made, and whether a session is kept for
// host:port.
int ClientContextsMade();
bool HasKeptSession(const std::u16string& host, int port, long maxVersion = openssl::kTls12Version);

}  // namespace tessora
