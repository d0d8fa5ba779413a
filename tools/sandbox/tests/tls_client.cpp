#include "tls_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cerrno>

namespace tessora::sandbox::test {

namespace {

std::string OpenSslReason() {
  char text[256] = "";
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  ERR_clear_error();
  return text;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

std::string Reply::Header(std::string_view name) const {
  std::size_t start = head.find("\r\n");
  while (start != std::string::npos && start + 2 < head.size()) {
    const std::size_t end = head.find("\r\n", start + 2);
    const std::string line = head.substr(start + 2, end - start - 2);
    const std::size_t colon = line.find(':');
    if (colon == name.size()) {
      bool same = true;
      for (std::size_t i = 0; i < colon; ++i)
        same = same && Lower(line[i]) == Lower(name[i]);
      if (same) return line.substr(colon + 2);
    }
    start = end;
  }
  return "";
}

TlsClient::TlsClient(std::uint16_t port, const std::string& caPem, const std::string& host,
                     int version) {
  try {
    Connect(port, caPem, host, version);
  } catch (...) {
    Release();
    throw;
  }
}

void TlsClient::Connect(std::uint16_t port, const std::string& caPem, const std::string& host,
                        int version) {
  context_ = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(context_, version);
  SSL_CTX_set_max_proto_version(context_, version);
  if (version < TLS1_2_VERSION) SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0");
  BIO* bio = BIO_new_mem_buf(caPem.data(), static_cast<int>(caPem.size()));
  X509* ca = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), ca);
  X509_free(ca);
  SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_options(context_, SSL_OP_IGNORE_UNEXPECTED_EOF);  // a bare close reads as a close

  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  timeval timeout{10, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot connect");
  }
  ssl_ = SSL_new(context_);
  SSL_set_fd(ssl_, fd_);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
  if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
    X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
  }
  if (SSL_connect(ssl_) != 1) {
    const long verify = SSL_get_verify_result(ssl_);
    const std::string reason = OpenSslReason();
    throw std::runtime_error("handshake failed: " + reason +
                             " (verify: " + X509_verify_cert_error_string(verify) + ")");
  }
}

TlsClient::~TlsClient() {
  Release();
}

void TlsClient::Release() {
  SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
  SSL_CTX_free(context_);
  ssl_ = nullptr;
  fd_ = -1;
  context_ = nullptr;
  ERR_clear_error();
}

void TlsClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    if (n <= 0) throw std::runtime_error("send failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool TlsClient::ReadMore() {
  char chunk[16384];
  const int n = SSL_read(ssl_, chunk, sizeof chunk);
  if (n <= 0) {
    ERR_clear_error();
    return false;
  }
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<Reply> TlsClient::Receive() {
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore()) return std::nullopt;
  }
  Reply reply;
  reply.head = buffer_.substr(0, end + 2);
  reply.status = std::stoi(reply.head.substr(9, 3));
  const std::size_t length = std::stoul(reply.Header("Content-Length"));
  while (buffer_.size() < end + 4 + length) {
    if (!ReadMore()) return std::nullopt;
  }
  reply.body = buffer_.substr(end + 4, length);
  buffer_.erase(0, end + 4 + length);
  return reply;
}

bool TlsClient::PeerCloses() {
  char byte;
  const int n = SSL_read(ssl_, &byte, 1);
  if (n > 0) return false;
  const int error = SSL_get_error(ssl_, n);
  ERR_clear_error();
  // A close with the alert, or the TCP connection closed; a time-out is not a close.
  return error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && errno == 0);
}

int TlsClient::NegotiatedVersion() const {
  return SSL_version(ssl_);
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
  const std::string plain = user + ":" + password;
  std::string encoded(4 * ((plain.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                reinterpret_cast<const unsigned char*>(plain.data()),
                                static_cast<int>(plain.size()));
  encoded.resize(static_cast<std::size_t>(n));
  return "Basic " + encoded;
}

}  // namespace tessora::sandbox::test
