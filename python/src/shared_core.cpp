// The core as one shared library for the extension modules; its code comes
// whole from the static core library (see python/CMakeLists.txt).
