// A shared library that describes itself but exports nothing else a plug-in must export.
extern "C" const char* LibDescription() {
    return "half a plug-in";
}
