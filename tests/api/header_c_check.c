/* Compiled as C89: the public header is usable from plain C hosts. */
#include "TessoraNet.h"

typedef void(TESSORANET_CALL* ConfigureServiceFn)(const char*, const char*, const char*,
                                                  const char*, const char*);
typedef char*(TESSORANET_CALL* TessoraNetFn)(const char*, const char*, const char*, const char*);

int tessora_header_c_check(void);
int tessora_header_c_check(void) {
  ConfigureServiceFn configure = &ConfigureService;
  TessoraNetFn call = &TessoraNet;
  void(TESSORANET_CALL * proxy)(const char*, int, const char*, const char*) = &ConfigureProxy;
  void(TESSORANET_CALL * token)(char**) = &TessoraNetGetInstanceData;
  unsigned char(TESSORANET_CALL * expired)(void) = &TessoraNetTokenExpired;
  unsigned char(TESSORANET_CALL * setOption)(const char*, const char*) = &TessoraNetSetOption;
  unsigned char(TESSORANET_CALL * getOption)(const char*, char**) = &TessoraNetGetOption;
  return configure != 0 && call != 0 && proxy != 0 && token != 0 && expired != 0 &&
         setOption != 0 && getOption != 0;
}
