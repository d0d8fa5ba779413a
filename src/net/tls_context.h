// What every TLS channel of the process shares: one client context and the sessions to resume.
//
// The context is made on first use, under a lock, with the trust store read once: the platform's
// roots and OpenSSL's default verify paths, which take SSL_CERT_FILE / SSL_CERT_DIR as they are at
// that moment. Later changes of those variables do not reach this process. Each channel makes its
// connection object from the context.
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

#include <string>

#include "net/openssl/binding.h"

namespace tessora {

// The cipher list of the client context.
inline constexpr char kClientCipherList[] = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

// The process's client context, made on first use. Raises (ErrorKind::kTlsLibrary) "Error getting
// SSL method.", "Error creating SSL context." CR LF the TLS library's reason, or "SetCipher
// failed."; nothing is kept then, and the next call tries again.
openssl::Context* SharedClientContext(const openssl::Api& api);

// Offers the session kept for host:port on the connection's coming handshake; nothing when none is
// kept or the library cannot resume.
void OfferKeptSession(const openssl::Api& api, openssl::Connection* connection,
                      const std::u16string& host, int port);
// After a completed handshake: keeps the connection's session for host:port in place of the one
// kept before.
void KeepSession(const openssl::Api& api, openssl::Connection* connection,
                 const std::u16string& host, int port);
// After a failed handshake: forgets the session kept for host:port.
void DropKeptSession(const std::u16string& host, int port);

// Frees the context and every kept session; the next channel makes a new context.
void ReleaseSharedTls();

// The TLS library's text for an error number ("" without the library or its error texts).
std::u16string TlsErrorText(const openssl::Api* api, unsigned long error);

// For tests: how many client contexts this process has made, and whether a session is kept for
// host:port.
int ClientContextsMade();
bool HasKeptSession(const std::u16string& host, int port);

}  // namespace tessora
