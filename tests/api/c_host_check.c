/* A host written in plain C, linked against the library: the extension TessoraNetTry hands
 * failures back as text, so a C host survives an unknown operation or a bad endpoint file. No
 * server is needed: each call fails before anything is sent. Exits 0 when every check passed. */
#include <stdio.h>
#include <string.h>

#include "TessoraNet.h"

static int failures = 0;

static void Check(int condition, const char* what, const char* text) {
  if (!condition) {
    ++failures;
    printf("FAILED: %s (got \"%s\")\n", what, text != NULL ? text : "(null)");
  }
}

static void WriteFile(const char* name, const char* text) {
  FILE* file = fopen(name, "wb");
  if (file != NULL) {
    fputs(text, file);
    fclose(file);
  }
}

int main(void) {
  char* result = NULL;
  char* reason = NULL;
  unsigned char ok;

  Check(strcmp(TessoraNetVersion(), TESSORA_VERSION) == 0, "the version", TessoraNetVersion());

  ConfigureService("client", "secret", "127.0.0.1:1/", "c_host_missing.json", "");
  ok = TessoraNetTry("CHARGE_DETAIL", "id=1", "", "", &result);
  Check(ok == 0, "a missing endpoint file fails", result);
  Check(result != NULL && strncmp(result, "Cannot open file \"", 18) == 0,
        "the missing file's message", result);
  TessoraNetFree(result);

  WriteFile("c_host_broken.json", "{\"ENDPOINTS\": {\"A\": ");
  ConfigureService("client", "secret", "127.0.0.1:1/", "c_host_broken.json", "");
  ok = TessoraNetTry("A", "", "", "", &result);
  Check(ok == 0, "a malformed endpoint file fails", result);
  Check(result != NULL && strstr(result, "(Line: ") != NULL, "the JSON message", result);
  TessoraNetFree(result);
  TessoraNetLastError(&reason);
  Check(reason != NULL && strncmp(reason, "The endpoint file c_host_broken.json", 36) == 0,
        "the reason names the file", reason);
  TessoraNetFree(reason);

  WriteFile("c_host_endpoints.json",
            "{\"ENDPOINTS\": {\"A\": {\"route\": \"/a\", \"method\": \"GET\"}}}");
  ConfigureService("client", "secret", "127.0.0.1:1/", "c_host_endpoints.json", "");
  ok = TessoraNetTry("REFUND_CREATE", "", "", "", &result);
  Check(ok == 0, "an unknown operation fails", result);
  Check(result != NULL && strcmp(result, "Problem in endpoint") == 0, "its message", result);
  TessoraNetFree(result);
  TessoraNetLastError(&reason);
  Check(reason != NULL && strcmp(reason,
                                 "Operation REFUND_CREATE is not in the endpoint file "
                                 "c_host_endpoints.json") == 0,
        "the reason names the operation", reason);
  TessoraNetFree(reason);
  Check(TessoraNetLastStatus() == 0, "no status", "");

  remove("c_host_broken.json");
  remove("c_host_endpoints.json");
  printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
