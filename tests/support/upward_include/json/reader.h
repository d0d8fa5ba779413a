// A JSON file that reaches up into the HTTP layer: the layer check must refuse it.
#include "http/client.h"
