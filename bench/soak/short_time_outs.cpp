// Part of the soak's build of the library only: every connection of the process gets the socket
// time-out TESSORA_SOAK_TIMEOUT_MS instead of 30 s, so that a call to a server that stalls ends
// within the soak's short run. Everything else is the library as shipped.
#include "net/tls_channel.h"

namespace tessora {
namespace {

struct ShortTimeOuts {
  ShortTimeOuts() { TlsChannel::SetSocketTimeoutForTesting(TESSORA_SOAK_TIMEOUT_MS); }
};

const ShortTimeOuts kShortTimeOuts;

}  // namespace
}  // namespace tessora
