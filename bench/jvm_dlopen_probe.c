/* The smallest program that does what the launcher must before it can create a VM: load
 * libjvm.so by name along LD_LIBRARY_PATH with the launcher's flags, find its entry
 * points, and exit. The launcher's own part of a start is measured against it. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  int mode = RTLD_GLOBAL | (getenv("LD_BIND_NOW") != NULL ? RTLD_NOW : RTLD_LAZY);
  void* library = dlopen("libjvm.so", mode);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  if (dlsym(library, "JNI_CreateJavaVM") == NULL || dlsym(library, "JNI_GetDefaultJavaVMInitArgs") == NULL)
    return 1;
  return 0;
}
