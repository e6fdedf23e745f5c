# 100,000 string concatenations in a loop.
s = ""
for i in range(1, 100001):
    s += "x" + str(i)
print(len(s))
