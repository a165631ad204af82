/* A host that links nothing but the dynamic loader: no C++ runtime, no
 * framework. Loading and freeing the library must leave nothing of it mapped,
 * since the unload is when the module frame withdraws from the framework; a
 * library that pins another (or is pinned) would only go at process exit. */
#include <dlfcn.h>
#include <stdio.h>

int main(void) {
    void* library = dlopen(GEARSET_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "cannot load the library: %s\n", dlerror());
        return 1;
    }
    if (dlsym(library, "__TolmbaseUsed") == NULL) {
        fprintf(stderr, "the library exports no __TolmbaseUsed\n");
        return 1;
    }
    if (dlclose(library) != 0) {
        fprintf(stderr, "cannot free the library: %s\n", dlerror());
        return 1;
    }
    const char* const libraries[] = {GEARSET_LIBRARY_PATH, TOLMBASE_LIBRARY_PATH, IMAGE_LIBRARY_PATH};
    int stillLoaded = 0;
    for (int i = 0; i < 3; ++i) {
        void* again = dlopen(libraries[i], RTLD_NOW | RTLD_NOLOAD);
        if (again != NULL) {
            fprintf(stderr, "still loaded after the library was freed: %s\n", libraries[i]);
            stillLoaded = 1;
        }
    }
    return stillLoaded;
}
