/* Vendrel.so: the web directory installer. Its export Vendrel publishes a
 * folder of this machine as a directory of the local web server (Apache),
 * or takes such a directory away again. The mail server loads the library
 * by file name from its program folder; plain C so that any caller can. */
#ifndef QUORVEX_VENDREL_H
#define QUORVEX_VENDREL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Publishes `folder` as the web directory "/<name>" with `document` as its
 * default document; `script` nonzero lets PHP pages run there, zero serves
 * its files as plain bytes. A null `folder` removes the directory. Returns 1
 * when the server's configuration was written (or removed) and the web
 * server accepted it, else 0 with everything left as it was. */
int Vendrel(const char* name, const char* folder, const char* document, int script);

/* After a call of Vendrel that returned 0: one sentence on why, when more
 * can be said than that it failed (a module the web server lacks, no web
 * server configuration folder); otherwise "". The text stays valid until
 * the next call of Vendrel. */
const char* VendrelLastError(void);

/* 1 when the web directory "/<name>" is published: its configuration is in
 * the web server's folder and enabled there; else 0. Changes nothing. */
int VendrelPublished(const char* name);

#ifdef __cplusplus
}
#endif

#endif
