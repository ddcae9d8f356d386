#ifndef __E_SCHEMA_ENUM__
#define __E_SCHEMA_ENUM__

typedef enum
{
   /*size=12*/ E_SCHEMA_ENUM_ALARM= 3,
   /*size=28*/ E_SCHEMA_ENUM_POSREC= 7
} E_SCHEMA_ENUM;

#endif //__E_SCHEMA_ENUM__
