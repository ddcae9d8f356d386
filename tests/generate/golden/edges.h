#ifndef __EDGES__
#define __EDGES__
// id=12

#pragma pack(push, 1)

//--- size of structure = 0
/*
an empty template
*/
typedef struct
{
} EMPTY;

//--- size of structure = 4
typedef struct
{
   short v;
   char w[2];
} INNER;

//--- size of structure = 12
typedef struct
{
   unsigned tag;
   INNER inner[2];
} OUTER;

//--- size of structure = 8
typedef struct
{
   double z;
} UNUSED;

typedef enum
{
   ONLY=5
} SINGLE;

typedef int HOLLOW; /* enum without items */

//--- size of structure = 76
typedef struct
{
/*
first line
second line
*/
    int plain;
    int none[0];
    float noneCollapsed[0];
    long long many[3];
    SINGLE modes[2];
    SINGLE packed[3];
    /* text note; */
    int flag; /* bool */
    EMPTY nothing;
    OUTER once;
    INNER thrice[3];
    INNER zero[0];
} EDGES;

#pragma pack(pop)

#endif //__EDGES__
