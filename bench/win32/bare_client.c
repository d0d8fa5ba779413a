/*
 * The floor for one HTTPS call on Windows with the OpenSSL DLLs that TessoraNet.dll uses, loaded
 * by name at run time: the OpenSSL 1.0.2 DLLs (libeay32.dll, ssleay32.dll) when they are there,
 * else the OpenSSL 3 DLLs of the program's width (libcrypto-3.dll and libssl-3.dll; 64-bit:
 * libcrypto-3-x64.dll and libssl-3-x64.dll). ONE TLS context for the process, then per request a
 * new TCP connection, a full TLS 1.2 handshake verifying the server's chain, one GET, the answer
 * read to its Content-Length (or to the close), and the connection closed. Prints the OpenSSL it
 * uses, the first request's time, that time with the set-up before it (loading the DLLs, making
 * the context, reading the CA file: what a library's first call of a process does too) and the
 * median of the others.
 *
 *   bare_client --port P (--ca FILE | --root-store SUBJECT) [--host 127.0.0.1]
 *               [--path /api.tessora.net/v1/json] [--requests N]
 *   bare_client (--add-root | --remove-root) FILE
 *
 * --root-store trusts, instead of a CA file, the root of that subject (a part of its name, as
 * CERT_FIND_SUBJECT_STR takes it) from the Windows ROOT store, read in the set-up: the least a
 * client that trusts the ROOT store does before its first handshake. --add-root and --remove-root
 * put the PEM certificate FILE into the current user's ROOT store and take it out again, to set up
 * a benchmark in a Wine prefix of its own (on Windows itself both ask the user to confirm).
 *
 * The last line reads "median <ms> ms per request" (bench/run-call-bench reads it).
 */
#include <windows.h>
#include <winsock2.h>

#include <wincrypt.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The few OpenSSL 1.0.2 types and constants used here, as the DLLs' headers define them. */
typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_method_st SSL_METHOD;
#define SSL_VERIFY_PEER 0x01
#define SSL_CTRL_SET_TLSEXT_HOSTNAME 55
#define TLSEXT_NAMETYPE_host_name 0
/* OpenSSL 3: SSL_CTX_set_min_proto_version / SSL_CTX_set_max_proto_version, TLS1_2_VERSION. */
#define SSL_CTRL_SET_MIN_PROTO_VERSION 123
#define SSL_CTRL_SET_MAX_PROTO_VERSION 124
#define TLS1_2_VERSION 0x0303

/* The DLLs' functions (cdecl). */
typedef int (*SslLibraryInitFn)(void);
typedef void (*SslLoadErrorStringsFn)(void);
typedef const SSL_METHOD* (*TlsClientMethodFn)(void);
typedef int (*OpenSslInitSslFn)(unsigned long long, const void*);
typedef long (*SslCtxCtrlFn)(SSL_CTX*, int, long, void*);
typedef SSL_CTX* (*SslCtxNewFn)(const SSL_METHOD*);
typedef int (*SslCtxLoadVerifyLocationsFn)(SSL_CTX*, const char*, const char*);
typedef void (*SslCtxSetVerifyFn)(SSL_CTX*, int, int (*)(int, void*));
typedef void (*SslCtxFreeFn)(SSL_CTX*);
typedef SSL* (*SslNewFn)(SSL_CTX*);
typedef int (*SslSetFdFn)(SSL*, int);
typedef long (*SslCtrlFn)(SSL*, int, long, void*);
typedef int (*SslConnectFn)(SSL*);
typedef int (*SslWriteFn)(SSL*, const void*, int);
typedef int (*SslReadFn)(SSL*, void*, int);
typedef int (*SslShutdownFn)(SSL*);
typedef void (*SslFreeFn)(SSL*);
typedef unsigned long (*ErrGetErrorFn)(void);
typedef void (*ErrErrorStringNFn)(unsigned long, char*, size_t);
typedef struct x509_st X509;
typedef struct x509_store_st X509_STORE;
typedef X509* (*D2iX509Fn)(X509**, const unsigned char**, long);
typedef void (*X509FreeFn)(X509*);
typedef X509_STORE* (*SslCtxGetCertStoreFn)(const SSL_CTX*);
typedef int (*X509StoreAddCertFn)(X509_STORE*, X509*);

static struct {
  int openSsl3;             /* the OpenSSL 3 DLLs, not the 1.0.2 ones */
  OpenSslInitSslFn initSsl; /* OpenSSL 3 */
  SslCtxCtrlFn ctxCtrl;     /* OpenSSL 3 */
  SslLibraryInitFn libraryInit;
  SslLoadErrorStringsFn loadErrorStrings;
  TlsClientMethodFn clientMethod;
  SslCtxNewFn ctxNew;
  SslCtxLoadVerifyLocationsFn ctxLoadVerifyLocations;
  SslCtxSetVerifyFn ctxSetVerify;
  SslCtxFreeFn ctxFree;
  SslNewFn sslNew;
  SslSetFdFn setFd;
  SslCtrlFn ctrl;
  SslConnectFn connect;
  SslWriteFn write;
  SslReadFn read;
  SslShutdownFn shutdown;
  SslFreeFn free;
  ErrGetErrorFn errGetError;
  ErrErrorStringNFn errErrorStringN;
  D2iX509Fn d2iX509;
  X509FreeFn x509Free;
  SslCtxGetCertStoreFn ctxGetCertStore;
  X509StoreAddCertFn storeAddCert;
} ssl;

/* Copies the export's address into the function pointer `out`; 0 when the DLL lacks it. */
static int Lookup(HMODULE dll, const char* name, void* out, size_t size) {
  FARPROC address = GetProcAddress(dll, name);
  if (address == NULL) {
    fprintf(stderr, "bare_client: the OpenSSL DLLs lack %s\n", name);
    return 0;
  }
  memcpy(out, &address, size);
  return 1;
}

#define LOOKUP(dll, field, name) Lookup(dll, name, &ssl.field, sizeof ssl.field)

/* The functions both lines have under the same names. */
static int LookupCommon(HMODULE crypto, HMODULE tls) {
  return LOOKUP(tls, ctxNew, "SSL_CTX_new") &&
         LOOKUP(tls, ctxLoadVerifyLocations, "SSL_CTX_load_verify_locations") &&
         LOOKUP(tls, ctxSetVerify, "SSL_CTX_set_verify") && LOOKUP(tls, ctxFree, "SSL_CTX_free") &&
         LOOKUP(tls, sslNew, "SSL_new") && LOOKUP(tls, setFd, "SSL_set_fd") &&
         LOOKUP(tls, ctrl, "SSL_ctrl") && LOOKUP(tls, connect, "SSL_connect") &&
         LOOKUP(tls, write, "SSL_write") && LOOKUP(tls, read, "SSL_read") &&
         LOOKUP(tls, shutdown, "SSL_shutdown") && LOOKUP(tls, free, "SSL_free") &&
         LOOKUP(crypto, errGetError, "ERR_get_error") &&
         LOOKUP(crypto, errErrorStringN, "ERR_error_string_n") &&
         LOOKUP(crypto, d2iX509, "d2i_X509") && LOOKUP(crypto, x509Free, "X509_free") &&
         LOOKUP(tls, ctxGetCertStore, "SSL_CTX_get_cert_store") &&
         LOOKUP(crypto, storeAddCert, "X509_STORE_add_cert");
}

static int LoadOpenSsl(void) {
  const char* cryptoName = sizeof(void*) == 8 ? "libcrypto-3-x64.dll" : "libcrypto-3.dll";
  const char* tlsName = sizeof(void*) == 8 ? "libssl-3-x64.dll" : "libssl-3.dll";
  HMODULE crypto = LoadLibraryA("libeay32.dll");
  HMODULE tls = crypto != NULL ? LoadLibraryA("ssleay32.dll") : NULL;
  if (crypto != NULL && tls != NULL) {
    fprintf(stderr, "bare_client: OpenSSL 1.0 (libeay32.dll, ssleay32.dll)\n");
    return LookupCommon(crypto, tls) && LOOKUP(tls, libraryInit, "SSL_library_init") &&
           LOOKUP(tls, loadErrorStrings, "SSL_load_error_strings") &&
           LOOKUP(tls, clientMethod, "TLSv1_2_client_method");
  }
  crypto = LoadLibraryA(cryptoName);
  tls = crypto != NULL ? LoadLibraryA(tlsName) : NULL;
  if (crypto == NULL || tls == NULL) {
    fprintf(stderr, "bare_client: cannot load libeay32.dll and ssleay32.dll, nor %s and %s\n",
            cryptoName, tlsName);
    return 0;
  }
  fprintf(stderr, "bare_client: OpenSSL 3 (%s, %s)\n", cryptoName, tlsName);
  ssl.openSsl3 = 1;
  return LookupCommon(crypto, tls) && LOOKUP(tls, initSsl, "OPENSSL_init_ssl") &&
         LOOKUP(tls, ctxCtrl, "SSL_CTX_ctrl") && LOOKUP(tls, clientMethod, "TLS_client_method");
}

static void PrintSslError(const char* what) {
  char text[256] = "";
  ssl.errErrorStringN(ssl.errGetError(), text, sizeof text);
  fprintf(stderr, "bare_client: %s: %s\n", what, text);
}

/* The value of Content-Length in the head `head` (zero-terminated), or -1 when it has none. */
static long ContentLength(const char* head) {
  static const char kName[] = "\r\ncontent-length:";
  const size_t nameLength = sizeof kName - 1;
  const char* at;
  for (at = head; *at != '\0'; ++at) {
    size_t i = 0;
    while (i < nameLength && at[i] != '\0' &&
           tolower((unsigned char)at[i]) == (unsigned char)kName[i]) {
      ++i;
    }
    if (i == nameLength) return strtol(at + nameLength, NULL, 10);
  }
  return -1;
}

struct Target {
  const char* host;
  int port;
  const char* path;
};

/* One request on a new connection; 1 when a "200" answer came whole. */
static int Request(SSL_CTX* context, const struct Target* target) {
  char request[512];
  char serverName[256];
  char answer[16384];
  int length = 0;
  int ok = 0;
  long expected = -1;
  struct sockaddr_in address;
  SSL* session;
  SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock == INVALID_SOCKET) return 0;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons((u_short)target->port);
  address.sin_addr.s_addr = inet_addr(target->host);
  if (connect(sock, (struct sockaddr*)&address, sizeof address) != 0) {
    fprintf(stderr, "bare_client: cannot connect to %s:%d\n", target->host, target->port);
    closesocket(sock);
    return 0;
  }
  session = ssl.sslNew(context);
  ssl.setFd(session, (int)sock);
  /* The server name goes out as the library sends it: the URL's host. */
  snprintf(serverName, sizeof serverName, "%s", target->host);
  ssl.ctrl(session, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, serverName);
  if (ssl.connect(session) != 1) {
    PrintSslError("handshake failed");
  } else {
    const int size = snprintf(request, sizeof request,
                              "GET %s HTTP/1.1\r\nHost: %s:%d\r\nAccept: application/json\r\n"
                              "Connection: close\r\n\r\n",
                              target->path, target->host, target->port);
    if (ssl.write(session, request, size) == size) {
      for (;;) {
        const char* headEnd;
        int n = ssl.read(session, answer + length, (int)sizeof answer - 1 - length);
        if (n <= 0) break;
        length += n;
        answer[length] = '\0';
        headEnd = strstr(answer, "\r\n\r\n");
        if (headEnd != NULL) {
          if (expected < 0) expected = ContentLength(answer);
          if (expected >= 0 && length - (headEnd + 4 - answer) >= expected) break;
        }
        if (length == (int)sizeof answer - 1) break;
      }
      answer[length] = '\0';
      ok = strncmp(answer, "HTTP/1.1 200 ", 13) == 0;
    }
    ssl.shutdown(session); /* one close alert; no answer awaited */
  }
  ssl.free(session);
  closesocket(sock);
  return ok;
}

/* Trusts the first root of the ROOT store whose subject contains `subject`; 1 when it did. */
static int TrustRootOf(SSL_CTX* context, const char* subject) {
  int added = 0;
  HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
  PCCERT_CONTEXT root;
  if (store == NULL) {
    fprintf(stderr, "bare_client: cannot open the ROOT store (%lu)\n", GetLastError());
    return 0;
  }
  root = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_A, subject,
                                    NULL);
  if (root == NULL) {
    fprintf(stderr, "bare_client: the ROOT store has no root named \"%s\"\n", subject);
  } else {
    const unsigned char* der = root->pbCertEncoded;
    X509* certificate = ssl.d2iX509(NULL, &der, (long)root->cbCertEncoded);
    added = certificate != NULL && ssl.storeAddCert(ssl.ctxGetCertStore(context), certificate) == 1;
    if (certificate != NULL) ssl.x509Free(certificate);
    CertFreeCertificateContext(root);
  }
  CertCloseStore(store, 0);
  return added;
}

/* --add-root / --remove-root: the PEM certificate in `file` into the current user's ROOT store, or
 * out of it. 0 when done. */
static int EditRootStore(const char* file, int add) {
  char pem[16384];
  BYTE der[8192];
  DWORD derLength = sizeof der;
  size_t length;
  int failed = 1;
  HCERTSTORE store;
  PCCERT_CONTEXT certificate;
  FILE* in = fopen(file, "rb");
  if (in == NULL) {
    fprintf(stderr, "bare_client: cannot read %s\n", file);
    return 2;
  }
  length = fread(pem, 1, sizeof pem - 1, in);
  fclose(in);
  pem[length] = '\0';
  if (!CryptStringToBinaryA(pem, (DWORD)length, CRYPT_STRING_BASE64HEADER, der, &derLength, NULL,
                            NULL)) {
    fprintf(stderr, "bare_client: %s holds no PEM certificate\n", file);
    return 2;
  }
  /* The registry store itself: a deletion from the ROOT collection does not reach it under Wine. */
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                        L"ROOT");
  if (store == NULL) {
    fprintf(stderr, "bare_client: cannot open the ROOT store (%lu)\n", GetLastError());
    return 2;
  }
  if (add) {
    failed = !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, derLength,
                                               CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  } else {
    certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der, derLength);
    if (certificate != NULL) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_EXISTING, certificate, NULL);
      failed = found == NULL || !CertDeleteCertificateFromStore(found); /* frees `found` */
      CertFreeCertificateContext(certificate);
    }
  }
  CertCloseStore(store, 0);
  if (failed) {
    fprintf(stderr, "bare_client: cannot %s the ROOT store (%lu)\n",
            add ? "add the certificate to" : "remove the certificate from", GetLastError());
    return 3;
  }
  return 0;
}

static int CompareDoubles(const void* a, const void* b) {
  const double x = *(const double*)a;
  const double y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double Median(double* values, int count) {
  qsort(values, (size_t)count, sizeof *values, CompareDoubles);
  return count % 2 != 0 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

int main(int argc, char** argv) {
  struct Target target = {"127.0.0.1", 0, "/api.tessora.net/v1/json"};
  const char* caFile = NULL;
  const char* rootSubject = NULL;
  int requests = 300;
  int failures = 0;
  int i;
  double* times;
  double first = 0;
  LARGE_INTEGER frequency;
  LARGE_INTEGER setUpStart;
  double setUp;
  WSADATA wsa;
  SSL_CTX* context;

  if (argc == 3 && (strcmp(argv[1], "--add-root") == 0 || strcmp(argv[1], "--remove-root") == 0)) {
    return EditRootStore(argv[2], strcmp(argv[1], "--add-root") == 0);
  }
  for (i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--port") == 0) {
      target.port = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--ca") == 0) {
      caFile = argv[i + 1];
    } else if (strcmp(argv[i], "--root-store") == 0) {
      rootSubject = argv[i + 1];
    } else if (strcmp(argv[i], "--host") == 0) {
      target.host = argv[i + 1];
    } else if (strcmp(argv[i], "--path") == 0) {
      target.path = argv[i + 1];
    } else if (strcmp(argv[i], "--requests") == 0) {
      requests = atoi(argv[i + 1]);
    } else {
      break;
    }
  }
  if (i != argc || target.port <= 0 || (caFile == NULL) == (rootSubject == NULL) || requests < 1) {
    fprintf(stderr,
            "usage: bare_client --port P (--ca FILE | --root-store SUBJECT) [--host 127.0.0.1] "
            "[--path PATH] [--requests N]\n"
            "       bare_client (--add-root | --remove-root) FILE\n");
    return 2;
  }
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&setUpStart);
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0 || !LoadOpenSsl()) return 2;
  if (ssl.openSsl3) {
    ssl.initSsl(0, NULL);
  } else {
    ssl.libraryInit();
    ssl.loadErrorStrings();
  }
  context = ssl.ctxNew(ssl.clientMethod());
  /* OpenSSL 3 has one method for every version: TLS 1.2 as with the 1.0 line's method. */
  if (context != NULL && ssl.openSsl3 &&
      (ssl.ctxCtrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, NULL) != 1 ||
       ssl.ctxCtrl(context, SSL_CTRL_SET_MAX_PROTO_VERSION, TLS1_2_VERSION, NULL) != 1)) {
    ssl.ctxFree(context);
    context = NULL;
  }
  if (context == NULL || (caFile != NULL ? ssl.ctxLoadVerifyLocations(context, caFile, NULL) != 1
                                         : !TrustRootOf(context, rootSubject))) {
    PrintSslError("cannot set up the TLS context");
    return 2;
  }
  ssl.ctxSetVerify(context, SSL_VERIFY_PEER, NULL);

  times = (double*)malloc(sizeof *times * (size_t)requests);
  if (times == NULL) return 2;
  {
    LARGE_INTEGER setUpEnd;
    QueryPerformanceCounter(&setUpEnd);
    setUp = (double)(setUpEnd.QuadPart - setUpStart.QuadPart) * 1000.0 / (double)frequency.QuadPart;
  }
  for (i = -1; i < requests; ++i) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    double ms;
    QueryPerformanceCounter(&start);
    if (!Request(context, &target)) ++failures;
    QueryPerformanceCounter(&end);
    ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    if (i < 0) {
      first = ms;
    } else {
      times[i] = ms;
    }
  }
  ssl.ctxFree(context);
  WSACleanup();
  if (failures > 0) {
    fprintf(stderr, "bare_client: %d requests failed\n", failures);
    return 3;
  }
  printf("first request %.2f ms\n", first);
  printf("first request with set-up %.2f ms\n", setUp + first);
  printf("median %.2f ms per request (%d requests)\n", Median(times, requests), requests);
  free(times);
  return 0;
}
