// A tiny library for the dynamic-library tests.
extern "C" __attribute__((visibility("default"))) int raydeck_fixture_answer() {
    return 42;
}
