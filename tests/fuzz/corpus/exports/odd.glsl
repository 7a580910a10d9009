#pragma	 EXPORT( k _1 = t:2 )
 uniform mat4 m;
#pragma EXPORT(x=y)uniform float z;