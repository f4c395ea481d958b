/* Machine-dependent JNI types and markers for Windows, x86 and x86-64.
 * JNI calls are standard-call on x86 (x86-64 has a single convention and ignores the marker);
 * the VM binds the undecorated export names. long is 32 bits on both. */
#ifndef ORVANTA_JNI_MD_H
#define ORVANTA_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
