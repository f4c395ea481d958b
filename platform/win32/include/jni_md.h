/* Machine-dependent JNI types and markers for 32-bit x86 Windows.
 * JNI calls are standard-call there; the VM binds the undecorated export names. */
#ifndef ORVANTA_JNI_MD_H
#define ORVANTA_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
