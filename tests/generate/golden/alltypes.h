#ifndef __ALLTYPES__
#define __ALLTYPES__
// id=30

#pragma pack(push, 1)

typedef enum
{
   LOW=0,
   HIGH=9
} LEVEL;

typedef int SPARE; /* enum without items */

//--- size of structure = 6
/*
a point: ends with * / and opens / * again
*/
typedef struct
{
   short x;
   int on; /* bool */
/*
* / text only in data files
*/
   /* text label; */
} PT;

//--- size of structure = 14
typedef struct
{
   short x;
   int on; /* bool */
/*
* / text only in data files
*/
   /* text label; */
   double weight;
} BOX_CENTRE;

//--- size of structure = 30
typedef struct
{
   PT corner[2];
/*
a point and its weight
*/
   BOX_CENTRE centre;
   LEVEL level;
} BOX;

//--- size of structure = 10
typedef struct
{
   short x;
   int on; /* bool */
/*
* / text only in data files
*/
   /* text label; */
   unsigned z;
} ALLTYPES_EXT_MORE;

//--- size of structure = 51
typedef struct
{
   PT corner[2];
/*
a point and its weight
*/
   BOX_CENTRE centre;
   LEVEL level;
   char tail;
   ALLTYPES_EXT_MORE more[2];
} ALLTYPES_EXT;

//--- size of structure = 177
typedef struct
{
    char c[3];
    int i;
    short s;
    long long l;
    unsigned u;
    unsigned short us[2];
    unsigned long long ul;
    float f;
    double d;
/*
free text, / ** /
*/
    /* text notes[2]; */
    int flags[3]; /* bool */
    LEVEL lvl;
    BOX box[2];
    ALLTYPES_EXT ext;
    char last;
    SPARE spare;
} ALLTYPES;

#pragma pack(pop)

#endif //__ALLTYPES__
