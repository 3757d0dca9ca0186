#ifndef TESK_EXPORT_H
#define TESK_EXPORT_H

// The Windows build exports the public library classes from the executable;
// elsewhere the macro is empty.
#if defined(_WIN32)
#define TESK_EXPORT __declspec(dllexport)
#else
#define TESK_EXPORT
#endif

#endif  // TESK_EXPORT_H
