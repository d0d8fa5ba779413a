/* Stand-ins for the OpenSSL 1.0 DLLs in loader tests: every exported name is this one function,
   which does nothing and reports success. */
int fake_success(void);
int fake_success(void) {
  return 1;
}
