# A line plot with a title, axis labels, tick labels and a key: gnuplot
# writes every label centred or right-aligned, without advances.
set title "Measured throughput per release"
set xlabel "Release number"
set ylabel "Pages per second"
set key top left
set grid
set xrange [0:10]
plot x*x/4 + 3 title "Reference engine" with lines lw 2, \
     10*sin(x/2) + 12 title "Candidate engine" with linespoints, \
     8 title "Baseline" with lines dt 2
