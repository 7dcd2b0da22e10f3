# A bar chart with labels placed at points and rotated text.
set title "Files converted by kind"
set style data histograms
set style fill solid 0.6 border -1
set boxwidth 0.8
set ylabel "Files"
set yrange [0:60]
set label 1 "Peak week" at 2,52 center
set label 2 "Right aligned note" at 5.5,40 right
set xtics ("Pages" 0, "Texts" 1, "Archives" 2, "Pictures" 3, "Help" 4, "Office" 5)
plot "-" using 1 title "Week one", "-" using 1 title "Week two"
12
25
48
31
9
17
e
15
22
50
28
11
20
e
