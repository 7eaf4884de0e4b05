/* Included ahead of Zopfli's sources (see CMakeLists.txt): math.h first, so
   that its declaration of log stays the library's, then every later call of
   log in Zopfli becomes a call of ZopfliPortableLog. */
#include <math.h>

double ZopfliPortableLog(double x);
#define log ZopfliPortableLog
