// The setting config.shared: the configuration, proxy and token of the process, the last ones any
// thread set or captured, for threads that never called ConfigureService. Hosts whose calls hop
// between pool threads (.NET async code, for example) then need not configure every thread.
#pragma once

namespace tessora {

struct ThreadSettings;

// What a thread set or captured becomes the process's, whatever config.shared says (it is cheap,
// and a host may turn the setting on later). ConfigureService's values ...
void PublishService(const ThreadSettings& settings);
// ... ConfigureProxy's ...
void PublishProxy(const ThreadSettings& settings);
// ... and the token the thread holds after a token response (access token, type, expiry), when
// the thread's Environment, client ID and secret are the process's: a token goes only with the
// configuration it was issued for.
void PublishToken(const ThreadSettings& settings);

// Before ConfigureService stores the host's values: from now on the thread has its own
// configuration; a token it had from the process is dropped with the process's configuration, so
// that it never goes to an Environment it was not issued for.
void OwnService(ThreadSettings& settings);
// Before ConfigureProxy stores the host's values: from now on the thread's own proxy holds.
void OwnProxy(ThreadSettings& settings);

// At the start of a call, of TessoraNetGetInstanceData and of TessoraNetTokenExpired. With
// config.shared "on", a thread that never called ConfigureService gets a copy of the process's
// configuration and token, and of its proxy too unless the thread called ConfigureProxy itself.
// With "off", such a thread gives back what an earlier copy gave it and is empty again, as a
// thread that never configured anything is.
void TakeSharedConfiguration(ThreadSettings& settings);

// At unload: the process's configuration and token are forgotten.
void ForgetSharedConfiguration();

}  // namespace tessora
