// A module with every export of a plug-in, built for a host version no build of this project
// plays: the loader must refuse it by its version alone.
extern "C" {
const char* LibDescription() {
    return "a module for another host";
}
int LibNumberClasses() {
    return 0;
}
void* LibClassDesc(int) {
    return nullptr;
}
unsigned long LibVersion() {
    return 0x11223300UL;
}
}
