// The program of a layer check (cmake/layers.cmake): linked with every
// object of one layer and with the layers below it only, it fails to link
// when the layer calls a higher one.  It is built, never run.
int main() { return 0; }
