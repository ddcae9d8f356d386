#ifndef __BARE__
#define __BARE__
// id=0

#pragma pack(push, 1)

//--- size of structure = 4
typedef struct
{
   int a;
} UNUSED;

typedef enum
{
   A=1,
   B=2
} LONELY;

//--- size of structure = 0
typedef struct
{
} BARE;

#pragma pack(pop)

#endif //__BARE__
