#ifndef __POSREC__
#define __POSREC__
// id=7

#pragma pack(push, 1)

//--- size of structure = 8
typedef struct
{
   int x;
   int y;
} POINT;

typedef enum
{
   OFF=0,
   ON=1
} MODE;

//--- size of structure = 28
typedef struct
{
    int count;
    char flags[4];
    MODE mode;
/*
two ends
*/
    POINT pos[2];
} POSREC;

#pragma pack(pop)

#endif //__POSREC__
