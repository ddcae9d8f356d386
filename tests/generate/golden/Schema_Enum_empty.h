#ifndef __E_SCHEMA_ENUM__
#define __E_SCHEMA_ENUM__

/* no schema is loaded */
typedef int E_SCHEMA_ENUM;

#endif //__E_SCHEMA_ENUM__
