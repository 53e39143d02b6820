/* pvwinerr: the error-reporting library the toolkit registers its console
 * with once at start. errormessage_ serves a message style the program never
 * requests; it writes the message to the registered console. */
#ifndef KALVEX_PVWINERR_H
#define KALVEX_PVWINERR_H

#ifdef __cplusplus
extern "C" {
#endif

void registerconsole_(void);
void errormessage_(const char* message, int message_len);
/* 1 after registerconsole_ has run. */
int pvwinerr_registered(void);

#ifdef __cplusplus
}
#endif

#endif
