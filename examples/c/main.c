/*
 * A complete TessoraNet session in C: configure, mask the secrets in the traffic log (the setting
 * "log.secrets"), AUTHORIZE, create a charge and read it back, then an operation the endpoint file
 * does not name, caught with TessoraNetTry.
 *
 * Settings come from the environment: TESSORA_ENVIRONMENT (e.g. "127.0.0.1:PORT/" for
 * tessora-sandbox), TESSORA_ENDPOINTS (default "endpoints.json"), TESSORA_CLIENT_ID and
 * TESSORA_CLIENT_SECRET (default the sandbox's). The output holds no token, and the charge's
 * creation time is masked, so it can be compared with expected-output.txt.
 *
 * TessoraNet() is used only where it cannot fail: a failure inside it (a missing endpoint file,
 * an unknown operation) ends a C program on Linux and raises a structured exception on Windows.
 * TessoraNetTry() hands the failure's message back instead.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "TessoraNet.h"

static const char* Setting(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != NULL && value[0] != '\0' ? value : fallback;
}

/* Prints a response with the digits after "created": replaced by <time>. */
static void PrintMasked(const char* response) {
  static const char kCreated[] = "\"created\":";
  const char* at;
  printf("  ");
  while ((at = strstr(response, kCreated)) != NULL) {
    at += sizeof kCreated - 1;
    fwrite(response, 1, (size_t)(at - response), stdout);
    fputs("<time>", stdout);
    while (*at >= '0' && *at <= '9')
      ++at;
    response = at;
  }
  printf("%s\n", response);
}

/* Copies the value of "id":"..." from a response into id (empty when there is none). */
static void FindId(const char* response, char* id, size_t size) {
  const char* start = strstr(response, "\"id\":\"");
  size_t length = 0;
  id[0] = '\0';
  if (start == NULL) return;
  start += 6;
  while (start[length] != '\0' && start[length] != '"' && length + 1 < size)
    ++length;
  memcpy(id, start, length);
  id[length] = '\0';
}

int main(void) {
  const char* environment = Setting("TESSORA_ENVIRONMENT", NULL);
  char* result;
  char* token = NULL;
  char* reason = NULL;
  char id[64];
  char parameters[80];
  int status;

  if (environment == NULL) {
    fprintf(stderr, "set TESSORA_ENVIRONMENT, e.g. 127.0.0.1:PORT/ for tessora-sandbox\n");
    return 2;
  }
  printf("TessoraNet %s\n", TessoraNetVersion());

  ConfigureService(Setting("TESSORA_CLIENT_ID", "sandbox-client"),
                   Setting("TESSORA_CLIENT_SECRET", "sandbox-secret"), environment,
                   Setting("TESSORA_ENDPOINTS", "endpoints.json"), "");
  ConfigureProxy("", 0, "", ""); /* no proxy */

  /* A library setting from code: "Call Logs.txt" then shows secrets and tokens masked. */
  if (!TessoraNetSetOption("log.secrets", "masked") ||
      !TessoraNetGetOption("log.secrets", &result)) {
    TessoraNetLastError(&reason);
    printf("log.secrets: refused: %s\n", reason);
    TessoraNetFree(reason);
    return 1;
  }
  printf("log.secrets: %s\n", result);
  TessoraNetFree(result);

  /* AUTHORIZE keeps the access token for this thread's later calls. */
  if (!TessoraNetTry("AUTHORIZE", "", "", "", &result)) {
    printf("AUTHORIZE: failed: %s\n", result);
    TessoraNetFree(result);
    return 1;
  }
  TessoraNetFree(result);
  status = TessoraNetLastStatus();
  if (status == 0) {
    TessoraNetLastError(&reason);
    printf("AUTHORIZE: no answer: %s\n", reason);
    TessoraNetFree(reason);
    return 1;
  }
  TessoraNetGetInstanceData(&token);
  printf("AUTHORIZE: HTTP %d, token received: %s, expired: %s\n", status,
         token[0] != '\0' ? "yes" : "no", (TessoraNetTokenExpired() & 0xFF) ? "yes" : "no");
  TessoraNetFree(token);

  result = TessoraNet("CHARGE_CREATE", "", "",
                      "{\"amount\": 1250, \"currency\": \"EUR\", \"description\": \"Order 1042\"}");
  printf("CHARGE_CREATE: HTTP %d\n", TessoraNetLastStatus());
  PrintMasked(result);
  FindId(result, id, sizeof id);
  TessoraNetFree(result);

  snprintf(parameters, sizeof parameters, "id=%s", id);
  result = TessoraNet("CHARGE_DETAIL", parameters, "", "");
  printf("CHARGE_DETAIL %s: HTTP %d\n", parameters, TessoraNetLastStatus());
  PrintMasked(result);
  TessoraNetFree(result);

  /* An operation the endpoint file does not name: a failure, reported by TessoraNetTry. */
  if (TessoraNetTry("REFUND_CREATE", parameters, "", "", &result)) {
    printf("REFUND_CREATE: unexpectedly performed\n");
  } else {
    printf("REFUND_CREATE: failed: %s\n", result);
  }
  TessoraNetFree(result);
  TessoraNetLastError(&reason);
  printf("  last status: %d, last error: %s\n", TessoraNetLastStatus(), reason);
  TessoraNetFree(reason);
  printf("done\n");
  return 0;
}
