/* Two DLLs for the library search's test, made from this one file. Built with
   TESSORA_IMPORTED_PROBE (together with planted_module.c, which leaves a file
   "planted-module-loaded" next to the DLL as soon as a process loads it), it exports
   TessoraImportedProbe. Built without, it imports that function: loading it loads the other one
   through the system's search for imports. */
#if defined(TESSORA_IMPORTED_PROBE)

__declspec(dllexport) int TessoraImportedProbe(void) {
  return 7;
}

#else

__declspec(dllimport) int TessoraImportedProbe(void);

__declspec(dllexport) int TessoraImportProbe(void) {
  return TessoraImportedProbe();
}

#endif
