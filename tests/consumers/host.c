/*
 * A host built against an installed TessoraNet (or one added with add_subdirectory): prints the
 * library's version and, given an environment and an endpoint file, performs AUTHORIZE and one
 * charge against the sandbox.
 *
 *   consumer_host                                  prints the version
 *   consumer_host ENVIRONMENT ENDPOINT-FILE        also AUTHORIZE + CHARGE_CREATE
 *
 * Exit status 0 when every step went as expected.
 */
#include <stdio.h>
#include <string.h>

#include <TessoraNet.h>

static int Call(const char* operation, const char* body, int expectedStatus) {
  char* result = NULL;
  const unsigned char answered = TessoraNetTry(operation, "", "", body, &result);
  const int status = TessoraNetLastStatus();
  printf("%s: %d %s\n", operation, status, result != NULL ? result : "(null)");
  TessoraNetFree(result);
  return answered && status == expectedStatus ? 0 : 1;
}

int main(int argc, char** argv) {
  const char* version = TessoraNetVersion();
  printf("TessoraNet %s\n", version);
  if (version == NULL || strcmp(version, TESSORA_EXPECTED_VERSION) != 0) {
    fprintf(stderr, "expected version %s\n", TESSORA_EXPECTED_VERSION);
    return 1;
  }
  if (argc < 3) return 0;
  ConfigureService("sandbox-client", "sandbox-secret", argv[1], argv[2], "");
  if (Call("AUTHORIZE", "", 200) != 0) return 1;
  return Call("CHARGE_CREATE", "{\"amount\": 1250, \"currency\": \"EUR\"}", 201);
}
