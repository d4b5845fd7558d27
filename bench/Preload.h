// The benchmarks that serve the simulated board in process need umockdev's
// preload library from their first instruction: they start themselves again
// with it when it is not there yet.
#ifndef BENCH_PRELOAD_H
#define BENCH_PRELOAD_H

void reexecWithPreload(char **argv);

#endif
