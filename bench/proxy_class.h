#ifndef K27_BENCH_PROXY_CLASS_H_
#define K27_BENCH_PROXY_CLASS_H_

/* The class of the simulator's proxy/stub DLL (k27ps.dll), which marshals
 * the server's interfaces: fixed, so that a registration always writes the
 * same keys. C as well as C++: the DLL's own code is C. */
#define K27_PROXY_CLASS \
  { 0x5c7535a9, 0xdb5a, 0x4e1a, { 0xaa, 0xaa, 0x6f, 0xb3, 0x21, 0x5e, 0xe1, 0x82 } }

#endif /* K27_BENCH_PROXY_CLASS_H_ */
