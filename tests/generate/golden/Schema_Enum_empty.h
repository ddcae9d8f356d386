#ifndef __E_SCHEMA_ENUM__
#define __E_SCHEMA_ENUM__

typedef enum
{
} E_SCHEMA_ENUM;

#endif //__E_SCHEMA_ENUM__
