#ifndef __ROOT__
#define __ROOT__
// id=1

#pragma pack(push, 1)

//--- size of structure = 8
typedef struct
{
   int a;
   int b;
} PAIR;

//--- size of structure = 12
typedef struct
{
    int n;
    PAIR p;
} ROOT;

#pragma pack(pop)

#endif //__ROOT__
