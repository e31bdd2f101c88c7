// The one source file of the targets that build the precompiled headers; the headers are
// all they produce.
